// dormex-rules-check [--werror] [--format text|json] <rule file>...: checks
// rule files as a run loads them, then for mistakes a run accepts.
#include <iostream>
#include <string>
#include <vector>

#include "common/StatusCodes.h"
#include "common/Version.h"
#include "platform/NativeFileSystem.h"
#include "rules/RuleCheck.h"

namespace {

constexpr const char* Usage =
    "usage: dormex-rules-check [--werror] [--format text|json] RULE_FILE...\n";

constexpr const char* Help =
    "Checks Dormex rule files: first as a run loads and validates them, then for\n"
    "mistakes a run accepts (state texts read two ways, unknown classes, state\n"
    "counts, repeated rules and OS builds, patterns the matcher refuses or that\n"
    "can be slow).\n"
    "\n"
    "Options:\n"
    "  --werror        warnings fail the check as errors do\n"
    "  --format text   one \"file:line: severity: message [code]\" per line (default)\n"
    "  --format json   a JSON array of {file, line, severity, code, message}\n"
    "  --help          this text\n"
    "  --version       the version\n"
    "\n"
    "Exit status: 0 no problem, 1 an error (or a warning with --werror),\n"
    "2 a file that cannot be read or a command line that is not understood.\n";

struct Options {
    bool werror = false;
    bool json = false;
    std::vector<std::string> files;
};

int Refuse(const std::string& why)
{
    std::cerr << "dormex-rules-check: " << why << "\n" << Usage;
    return dormex::ExitBadInput;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnd || argument.size() < 2 || argument[0] != '-') {
            options.files.push_back(argument);
        } else if (argument == "--") {
            optionsEnd = true;
        } else if (argument == "--help" || argument == "-h") {
            std::cout << Usage << "\n" << Help;
            return 0;
        } else if (argument == "--version") {
            std::cout << "dormex-rules-check " << dormex::DormexVersion << "\n";
            return 0;
        } else if (argument == "--werror") {
            options.werror = true;
        } else if (argument == "--format" || argument.rfind("--format=", 0) == 0) {
            // --format=NAME, or --format NAME
            std::string format = argument.size() > 8 ? argument.substr(9)
                                 : i + 1 < argc      ? argv[++i]
                                                     : "";
            if (format != "text" && format != "json") {
                return Refuse(format.empty() ? "--format needs text or json"
                                             : "unknown format " + format);
            }
            options.json = format == "json";
        } else {
            return Refuse("unknown option " + argument);
        }
    }
    if (options.files.empty()) {
        return Refuse("no rule file named");
    }

    std::unique_ptr<dormex::FileSystem> files = dormex::MakeNativeFileSystem();
    std::vector<dormex::RuleFileCheck> checks;
    bool unreadable = false;
    size_t errors = 0;
    size_t warnings = 0;
    for (const std::string& path : options.files) {
        checks.push_back(dormex::CheckRuleFile(path, *files));
        unreadable = unreadable || !checks.back().Readable;
        for (const dormex::RuleDiagnostic& diagnostic : checks.back().Diagnostics) {
            errors += diagnostic.Level == dormex::Severity::Error ? 1 : 0;
            warnings += diagnostic.Level == dormex::Severity::Warning ? 1 : 0;
            if (!options.json) {
                std::cout << dormex::FormatDiagnostic(path, diagnostic) << "\n";
            }
        }
    }
    if (options.json) {
        std::cout << dormex::DiagnosticsAsJson(checks);
    } else {
        std::cerr << "dormex-rules-check: " << checks.size() << " file"
                  << (checks.size() == 1 ? "" : "s") << ", " << errors << " error"
                  << (errors == 1 ? "" : "s") << ", " << warnings << " warning"
                  << (warnings == 1 ? "" : "s") << "\n";
    }
    if (unreadable) {
        return dormex::ExitBadInput;
    }
    return errors > 0 || (options.werror && warnings > 0) ? dormex::ExitRuleFileFaulty : 0;
}
