// dormex-diff OLD.json NEW.json [--format text|markdown|json] [--changes-only]
// [--max-chars N]: the findings of two results files (DORMEX_RESULTS) that are
// new, fixed and unchanged, below a line naming each run. Exits 0 when nothing
// is new, 1 when something is, 2 on an input or option it cannot use.
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
    "usage: dormex-diff OLD.json NEW.json [--format text|markdown|json] [--changes-only]\n"
    "                   [--max-chars N]\n";

// One results file read for the comparison, or nothing after saying what is
// wrong.
std::optional<dormex::ComparedRun> ReadResultsFile(const std::string& path)
{
    dormex::InputFileText file = dormex::ReadInputFile(path);
    if (!file.Fault.empty()) {
        const bool unreadable = file.Fault.rfind("cannot", 0) == 0;
        std::cerr << "dormex-diff: " << path << ": " << (unreadable ? "cannot be read" : file.Fault)
                  << "\n";
        return std::nullopt;
    }
    auto read = dormex::ReadComparedRun(file.Text);
    if (auto* fault = std::get_if<std::string>(&read)) {
        std::cerr << "dormex-diff: " << path << ": " << *fault << "\n";
        return std::nullopt;
    }
    return std::get<dormex::ComparedRun>(std::move(read));
}

}  // namespace

int main(int argc, char** argv)
{
    auto parsed = dormex::ParseDiffOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (auto* fault = std::get_if<std::string>(&parsed)) {
        std::cerr << "dormex-diff: " << *fault << "\n" << Usage;
        return dormex::ExitBadInput;
    }
    const dormex::DiffOptions& options = std::get<dormex::DiffOptions>(parsed);
    if (options.Do == dormex::DiffOptions::Action::Help) {
        std::cout
            << Usage
            << "Lists the findings of NEW.json that are new, fixed or unchanged against\n"
               "OLD.json (both written with DORMEX_RESULTS), after a summary line and a line\n"
               "naming each run's machine, BIOS, time and rule file; warns when the runs are\n"
               "of two machines or used two rule files.\n"
               "  --format F      text (default), markdown (for an issue tracker) or json\n"
               "  --changes-only  count the unchanged findings but do not list them\n"
               "  --max-chars N   leave findings out from the end so that the output holds\n"
               "                  at most N characters, and say how many; without it, text\n"
               "                  or Markdown longer than 65536 characters says so\n"
               "Exit status: 0 when nothing is new, 1 when something is, 2 when a file or\n"
               "an option cannot be used.\n";
        return 0;
    }
    if (options.Do == dormex::DiffOptions::Action::Version) {
        std::cout << "dormex-diff " << dormex::DormexVersion << "\n";
        return 0;
    }
    auto before = ReadResultsFile(options.Files[0]);
    auto after = ReadResultsFile(options.Files[1]);
    if (!before || !after) {
        return dormex::ExitBadInput;
    }
    const dormex::DiffRuns runs{before->Header, after->Header};
    const dormex::ResultsDiff diff = dormex::DiffResults(before->Findings, after->Findings);
    auto output = dormex::FormatDiff(diff, &runs, options.Layout);
    if (auto* least = std::get_if<size_t>(&output)) {
        std::cerr << "dormex-diff: --max-chars " << *options.Layout.MaxChars
                  << " cannot hold the summary, the runs and the note of what is left out, "
                     "which take "
                  << *least << " characters\n";
        return dormex::ExitBadInput;
    }
    std::cout << std::get<std::string>(output);
    return diff.New.empty() ? 0 : 1;
}
