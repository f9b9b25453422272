// dormex-diff OLD.json NEW.json [--format text|markdown|json]: the findings of
// two results files (DORMEX_RESULTS) that are new, fixed and unchanged. Exits
// 0 when nothing is new, 1 when something is, 2 on an input it cannot use.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "common/FileLimits.h"
#include "common/StatusCodes.h"
#include "common/Version.h"
#include "results/ResultsDiff.h"

namespace {

constexpr const char* Usage =
    "usage: dormex-diff OLD.json NEW.json [--format text|markdown|json]\n";

// The findings of one results file, or nothing after saying what is wrong.
std::optional<std::vector<dormex::ComparedFinding>> ReadResultsFile(const std::string& path)
{
    dormex::InputFileText file = dormex::ReadInputFile(path);
    if (!file.Fault.empty()) {
        const bool unreadable = file.Fault.rfind("cannot", 0) == 0;
        std::cerr << "dormex-diff: " << path << ": " << (unreadable ? "cannot be read" : file.Fault)
                  << "\n";
        return std::nullopt;
    }
    auto read = dormex::ReadComparedFindings(file.Text);
    if (auto* fault = std::get_if<std::string>(&read)) {
        std::cerr << "dormex-diff: " << path << ": " << *fault << "\n";
        return std::nullopt;
    }
    return std::get<std::vector<dormex::ComparedFinding>>(std::move(read));
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> files;
    dormex::DiffFormat format = dormex::DiffFormat::Text;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::cout
                << Usage
                << "Lists the findings of NEW.json that are new, fixed or unchanged against\n"
                   "OLD.json (both written with DORMEX_RESULTS). Exit status: 0 when nothing\n"
                   "is new, 1 when something is, 2 when a file cannot be used.\n";
            return 0;
        }
        if (argument == "--version") {
            std::cout << "dormex-diff " << dormex::DormexVersion << "\n";
            return 0;
        }
        if (argument == "--format" && i + 1 < argc) {
            auto chosen = dormex::ParseDiffFormat(argv[++i]);
            if (!chosen) {
                std::cerr << "dormex-diff: unknown format " << argv[i] << "\n" << Usage;
                return dormex::ExitBadInput;
            }
            format = *chosen;
        } else if (argument.rfind("--", 0) == 0) {
            std::cerr << "dormex-diff: unknown option " << argument << "\n" << Usage;
            return dormex::ExitBadInput;
        } else {
            files.push_back(argument);
        }
    }
    if (files.size() != 2) {
        std::cerr << Usage;
        return dormex::ExitBadInput;
    }
    auto before = ReadResultsFile(files[0]);
    auto after = ReadResultsFile(files[1]);
    if (!before || !after) {
        return dormex::ExitBadInput;
    }
    const dormex::ResultsDiff diff = dormex::DiffResults(*before, *after);
    std::cout << dormex::FormatDiff(diff, format);
    return diff.New.empty() ? 0 : 1;
}
