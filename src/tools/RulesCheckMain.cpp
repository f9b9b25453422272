// dormex-rules-check [--werror] [--format text|json] <rule file>...: checks
// rule files as a run loads them, then for mistakes a run accepts.
#include <iostream>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "analysis/RuleMatching.h"
#include "common/StatusCodes.h"
#include "common/Version.h"
#include "log/DebugLog.h"
#include "platform/NativeFileSystem.h"
#include "platform/replay/ReplayMachine.h"
#include "platform/snapshot/MachineSnapshot.h"
#include "rules/RuleCheck.h"
#include "rules/RuleParser.h"
#include "rules/RuleSet.h"
#include "sysinfo/RuleFileSelection.h"
#include "sysinfo/SystemInfo.h"

namespace {

constexpr const char* Usage =
    "usage: dormex-rules-check [--werror] [--format text|json] [--machine SNAPSHOT] "
    "RULE_FILE...\n";

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
    "  --machine SNAPSHOT\n"
    "                  notes which rule file that machine's run uses and which os\n"
    "                  element of each RULE_FILE it takes\n"
    "  --help          this text\n"
    "  --version       the version\n"
    "\n"
    "Exit status: 0 no problem, 1 an error (or a warning with --werror),\n"
    "2 a file that cannot be read or a command line that is not understood.\n";

struct Options {
    bool werror = false;
    bool json = false;
    std::string machine;
    std::vector<std::string> files;
};

// The machine of a snapshot as its run identifies it; a message when it
// cannot be had.
std::variant<dormex::SystemInfo, std::string> IdentifyMachine(const std::string& path,
                                                              dormex::FileSystem& files)
{
    auto loaded = dormex::LoadMachineSnapshot(path);
    if (auto* fault = std::get_if<std::string>(&loaded)) {
        return *fault;
    }
    dormex::ReplayMachine replay(std::get<dormex::MachineSnapshot>(std::move(loaded)), files);
    dormex::NullConsole console;
    dormex::Platform platform = replay.PlatformWith(console);
    dormex::DebugLog log(console);
    dormex::SystemInfo info;
    if (dormex::ReadSystemInfo(info, log, platform) != 0 && info.OsBuild == "Unknown") {
        return "machine snapshot " + path + ": its run cannot identify the machine";
    }
    return info;
}

// Notes for `check` of the machine's choices: the os element of the file its
// run takes, and whether the file is the one its run reads.
void NoteMachineChoices(const std::string& snapshot, dormex::SystemInfo& machine,
                        dormex::RuleFileCheck& check, dormex::FileSystem& files)
{
    const std::string ruleFile = dormex::RuleFilePath(machine);
    const std::string name = ruleFile.substr(ruleFile.rfind('\\') + 1);
    const std::string given = check.Path.substr(check.Path.find_last_of("/\\") + 1);
    if (given != name) {
        check.Diagnostics.push_back(
            {0, dormex::Severity::Note, "machine-rule-file",
             "the run of " + snapshot + " reads " + ruleFile + ", not this file"});
    }
    dormex::NullConsole console;
    dormex::DebugLog log(console);
    dormex::RuleSet rules;
    if (dormex::LoadRuleFile(check.Path, rules, log, files) != 0) {
        return;
    }
    if (const dormex::OsEntry* entry = dormex::ChooseOsEntry(rules, machine)) {
        const bool fits = machine.OsBuild.find(entry->Build) != std::string::npos;
        check.Diagnostics.push_back({entry->Line, dormex::Severity::Note, "machine-os",
                                     "the run of " + snapshot + " (OS build " + machine.OsBuild +
                                         ") takes this os element" +
                                         (fits ? "" : ", the last, as no build fits")});
    }
}

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
        } else if (argument == "--machine" && i + 1 < argc) {
            options.machine = argv[++i];
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
    std::optional<dormex::SystemInfo> machine;
    if (!options.machine.empty()) {
        auto identified = IdentifyMachine(options.machine, *files);
        if (auto* fault = std::get_if<std::string>(&identified)) {
            std::cerr << "dormex-rules-check: " << *fault << "\n";
            return dormex::ExitBadInput;
        }
        machine = std::get<dormex::SystemInfo>(identified);
    }
    std::vector<dormex::RuleFileCheck> checks;
    bool unreadable = false;
    size_t errors = 0;
    size_t warnings = 0;
    for (const std::string& path : options.files) {
        checks.push_back(dormex::CheckRuleFile(path, *files));
        unreadable = unreadable || !checks.back().Readable;
        if (machine && checks.back().Readable) {
            NoteMachineChoices(options.machine, *machine, checks.back(), *files);
        }
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
