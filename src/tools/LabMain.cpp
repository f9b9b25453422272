// dormex-lab: a library of captures. `run` replays machine snapshots as
// dormex would, several at a time, each into a folder of its own; `what-if`
// replays them with two rule folders and compares; `history` and `summary`
// read the results files of such runs; `show` and `packets` lay out one run
// for the people who act on it. Usage and exit statuses below.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "common/StatusCodes.h"
#include "common/Version.h"
#include "lab/History.h"
#include "lab/LabRun.h"
#include "lab/Library.h"
#include "lab/Show.h"
#include "lab/Summary.h"
#include "lab/WhatIf.h"
#include "platform/NativeFileSystem.h"
#include "platform/StandardConsole.h"
#include "sysinfo/RuleFileSelection.h"

namespace {

namespace fs = std::filesystem;
using dormex::Capture;
using dormex::CaptureOutcome;
using Kind = dormex::CaptureOutcome::Kind;

constexpr const char* Usage =
    "usage: dormex-lab run CAPTURE... --out DIR [--rules DIR] [--jobs N] [--shard K/N]\n"
    "                      [--force] [--time-limit SECONDS]\n"
    "       dormex-lab what-if CAPTURE... --rules OLD --against NEW [--jobs N]\n"
    "                      [--time-limit SECONDS]\n"
    "       dormex-lab history RESULTS... [--by time|bios] [--fail-on new]\n"
    "       dormex-lab summary RESULTS... [--format text|markdown|json|html] [-o FILE]\n"
    "       dormex-lab show RESULTS [--format text|markdown|json|html] [--by owner|device|kind]\n"
    "                      [-o FILE]\n"
    "       dormex-lab packets RESULTS --out DIR\n";

constexpr const char* Help =
    "Replays each CAPTURE (a machine snapshot, or a folder searched for them) as\n"
    "DORMEX_MACHINE=CAPTURE dormex would, and writes its report, debug log and\n"
    "results (dormex-results.json) into DIR/<the capture's path below the folder it\n"
    "was found in>/. A capture whose results are newer than it and than every rule\n"
    "file is not run again unless --force.\n"
    "  --rules DIR          the rule folder (default: the rules_for_soc that dormex finds)\n"
    "  --jobs N             captures at once (default: the number of processors)\n"
    "  --shard K/N          only the K-th of N stable shares of the captures\n"
    "  --time-limit SECONDS stop a capture's run after this long (default 300)\n"
    "Exit status: 0 when every capture completed, 1 when some failed or were\n"
    "stopped (listed at the end), 2 on a bad command line.\n"
    "\n"
    "what-if replays every CAPTURE with the rule folder OLD and with NEW, and lists\n"
    "for each the findings that appear and disappear. Exit status: 0 when nothing\n"
    "changes, 1 when something does or a capture cannot be compared, 2 on a bad\n"
    "command line.\n"
    "\n"
    "history reads results files (and folders of dormex-results.json) and follows\n"
    "each machine's findings through its runs, in order of run time or BIOS\n"
    "version. With --fail-on new it exits 1 when the latest completed run of a\n"
    "machine has a finding that the completed run before it lacked.\n"
    "\n"
    "summary reads results files (and folders of dormex-results.json) and groups\n"
    "what they found: machine configurations, each finding with the runs that have\n"
    "it, the findings by who is asked to act and by rule, and the runs that\n"
    "stopped. The Markdown form stays under 65,536 characters.\n"
    "\n"
    "show lays out one results file for the people who act on it: the machine and\n"
    "the run, counts by owner and kind, then the findings grouped by owner (the\n"
    "BIOS, each driver vendor by provider), device or kind, each with expected\n"
    "against actual states per LPIT state, the rule and what to change.\n"
    "\n"
    "packets writes one Markdown file per owner of a results file's findings into\n"
    "DIR, ready to paste into a tracker, in numbered files under 65,536 characters.\n"
    "Exit status of show and packets: 0, or 2 when the file cannot be used.\n";

struct Options {
    std::vector<std::string> Captures;
    dormex::LabRunOptions Run;
    std::optional<fs::path> Output;
    std::optional<fs::path> Rules;
    std::optional<fs::path> Against;
    dormex::Shard Shard;
};

int BadCommandLine(const std::string& message)
{
    std::cerr << "dormex-lab: " << message << "\n" << Usage;
    return dormex::ExitBadInput;
}

std::optional<double> Number(const std::string& text)
{
    std::istringstream stream(text);
    double value = 0;
    if (!(stream >> value) || !stream.eof() || !(value > 0) || value > 1e6) {
        return std::nullopt;
    }
    return value;
}

// The rule folder dormex would use: rules_for_soc in the current folder, else
// beside the program.
std::optional<fs::path> DefaultRules(dormex::FileSystem& files)
{
    const std::optional<dormex::RuleFolderChoice> folder = dormex::FindRuleFolder(files);
    if (!folder) {
        return std::nullopt;
    }
    return dormex::PathOfUtf8(files.NativePath(folder->Path));
}

const char* KindWord(Kind kind)
{
    switch (kind) {
    case Kind::Done:
        return "done    ";
    case Kind::UpToDate:
        return "current ";
    case Kind::Failed:
        return "failed  ";
    case Kind::Stopped:
        return "stopped ";
    }
    return "";
}

// A capture that failed or was stopped: listed at the end, exit status 1.
bool Unfinished(const CaptureOutcome& outcome)
{
    return outcome.Result == Kind::Failed || outcome.Result == Kind::Stopped;
}

std::string OutcomeLine(const Capture& capture, const CaptureOutcome& outcome)
{
    std::string line = KindWord(outcome.Result) + capture.Name;
    if (!outcome.Message.empty()) {
        line += ": " + outcome.Message;
    }
    return line + "\n";
}

// What the lab has done so far, for the progress line of a terminal.
class Progress {
public:
    Progress(size_t total, bool terminal) : total_(total), terminal_(terminal) {}

    void Finished(const Capture& capture, const CaptureOutcome& outcome)
    {
        ++done_;
        const bool notable = Unfinished(outcome);
        failed_ += notable;
        if (!terminal_) {
            std::cout << OutcomeLine(capture, outcome) << std::flush;
            return;
        }
        if (notable) {
            std::cerr << "\r\033[K" << OutcomeLine(capture, outcome);
        }
        // Drawn ten times a second at most, and once more at the end.
        const double seconds = Elapsed();
        if (!notable && done_ < total_ && seconds - drawn_ < 0.1) {
            return;
        }
        drawn_ = seconds;
        const double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0;
        char line[160];
        std::snprintf(line, sizeof line, "\r\033[K%zu/%zu done, %zu failed or stopped, %.1f/s",
                      done_, total_, failed_, rate);
        std::cerr << line;
        if (rate > 0 && done_ < total_) {
            std::snprintf(line, sizeof line, ", about %.0f s left",
                          static_cast<double>(total_ - done_) / rate);
            std::cerr << line;
        }
        std::cerr << std::flush;
    }
    void End()
    {
        if (terminal_ && done_ > 0) {
            std::cerr << "\r\033[K" << std::flush;
        }
    }
    double Elapsed() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    size_t total_;
    bool terminal_;
    size_t done_ = 0;
    size_t failed_ = 0;
    double drawn_ = -1;  // when the line was last drawn
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The options of `verb`; a message when the command line is bad.
std::variant<Options, std::string> ParseOptions(const std::string& verb,
                                                const std::vector<std::string>& arguments)
{
    const bool run = verb == "run";
    Options options;
    options.Run.Jobs = std::max(1u, std::thread::hardware_concurrency());
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "--out" && hasValue && run) {
            options.Output = dormex::PathOfUtf8(arguments[++i]);
        } else if (argument == "--rules" && hasValue) {
            options.Rules = dormex::PathOfUtf8(arguments[++i]);
        } else if (argument == "--against" && hasValue && !run) {
            options.Against = dormex::PathOfUtf8(arguments[++i]);
        } else if (argument == "--jobs" && hasValue) {
            auto jobs = Number(arguments[++i]);
            if (!jobs || *jobs != static_cast<unsigned>(*jobs) || *jobs > 1024) {
                return "--jobs takes a whole number from 1 to 1024";
            }
            options.Run.Jobs = static_cast<unsigned>(*jobs);
        } else if (argument == "--shard" && hasValue && run) {
            auto shard = dormex::ParseShard(arguments[++i]);
            if (!shard) {
                return "--shard takes K/N with 1 <= K <= N";
            }
            options.Shard = *shard;
        } else if (argument == "--time-limit" && hasValue) {
            auto seconds = Number(arguments[++i]);
            if (!seconds) {
                return "--time-limit takes a number of seconds above 0";
            }
            options.Run.TimeLimit = std::chrono::milliseconds(
                std::max<int64_t>(1, static_cast<int64_t>(*seconds * 1000)));
        } else if (argument == "--force" && run) {
            options.Run.Force = true;
        } else if (argument.rfind("--", 0) == 0) {
            return "unknown option " + argument + " for " + verb;
        } else {
            options.Captures.push_back(argument);
        }
    }
    if (options.Captures.empty()) {
        return "no CAPTURE given";
    }
    if (run && !options.Output) {
        return "--out DIR is required";
    }
    if (!run && (!options.Rules || !options.Against)) {
        return "what-if needs --rules OLD and --against NEW";
    }
    for (const auto* folder : {&options.Rules, &options.Against}) {
        std::error_code error;
        if (*folder && !fs::is_directory(**folder, error)) {
            return dormex::Utf8Path(**folder) + ": not a folder";
        }
    }
    return options;
}

int RunVerb(Options options)
{
    std::unique_ptr<dormex::FileSystem> files = dormex::MakeNativeFileSystem();
    if (!options.Rules) {
        options.Rules = DefaultRules(*files);
        if (!options.Rules) {
            return BadCommandLine(
                "no rules_for_soc in the current folder or beside the program; name one with "
                "--rules");
        }
    }
    options.Run.Rules = *options.Rules;
    options.Run.Output = *options.Output;

    dormex::Library library = dormex::FindCaptures(options.Captures, *options.Output);
    if (!library.Fault.empty()) {
        return BadCommandLine(library.Fault);
    }
    for (const std::string& file : library.NotCaptures) {
        std::cout << "ignored " << file << ": not a machine snapshot\n";
    }
    std::vector<Capture> captures;
    for (Capture& capture : library.Captures) {
        if (dormex::InShard(capture.Relative, options.Shard)) {
            captures.push_back(std::move(capture));
        }
    }
    Progress progress(captures.size(), dormex::StandardErrorIsTerminal());
    const std::vector<CaptureOutcome> outcomes = dormex::RunLab(
        captures, options.Run, *files, [&](const Capture& capture, const CaptureOutcome& outcome) {
            progress.Finished(capture, outcome);
        });
    progress.End();

    size_t counts[4] = {};
    for (const CaptureOutcome& outcome : outcomes) {
        ++counts[static_cast<size_t>(outcome.Result)];
    }
    char line[200];
    std::snprintf(line, sizeof line,
                  "dormex-lab: %zu %s in %.1f s: %zu done, %zu current, %zu failed, %zu stopped",
                  captures.size(), captures.size() == 1 ? "capture" : "captures",
                  progress.Elapsed(), counts[0], counts[1], counts[2], counts[3]);
    std::cout << line;
    if (options.Shard.Count > 1) {
        std::cout << " (shard " << options.Shard.Index << "/" << options.Shard.Count << " of "
                  << library.Captures.size() << ")";
    }
    std::cout << "\n";
    if (counts[2] + counts[3] == 0) {
        return 0;
    }
    std::cout << "Failed or stopped:\n";
    for (size_t i = 0; i < captures.size(); ++i) {
        if (Unfinished(outcomes[i])) {
            std::cout << "  " << OutcomeLine(captures[i], outcomes[i]);
        }
    }
    return 1;
}

// Each results file of the inputs that can be read, handed over one at a
// time; the others are named on standard error. False on a bad input.
bool ReadEachRun(const std::vector<std::string>& inputs,
                 const std::function<void(dormex::RunRecord)>& use)
{
    auto found = dormex::FindResultsFiles(inputs);
    if (auto* fault = std::get_if<std::string>(&found)) {
        BadCommandLine(*fault);
        return false;
    }
    for (const fs::path& file : std::get<std::vector<fs::path>>(found)) {
        auto read = dormex::ReadRunRecord(file);
        if (auto* fault = std::get_if<std::string>(&read)) {
            std::cerr << "dormex-lab: skipped " << *fault << "\n";
        } else {
            use(std::get<dormex::RunRecord>(std::move(read)));
        }
    }
    return true;
}

// Writes `text` to the file the user named, or to standard output.
int WriteOutput(const std::optional<std::string>& output, const std::string& text)
{
    if (!output) {
        std::cout << text;
        return 0;
    }
    std::ofstream file(dormex::PathOfUtf8(*output), std::ios::binary);
    file << text;
    file.close();
    if (!file) {
        std::cerr << "dormex-lab: cannot write " << *output << "\n";
        return dormex::ExitBadInput;
    }
    return 0;
}

// The one results file `show` and `packets` read, or nothing after saying why.
std::optional<dormex::RunRecord> ReadOneRun(const std::vector<std::string>& inputs)
{
    if (inputs.size() != 1) {
        BadCommandLine(inputs.empty() ? "no RESULTS given" : "one RESULTS file at a time");
        return std::nullopt;
    }
    auto read = dormex::ReadRunRecord(dormex::PathOfUtf8(inputs.front()));
    if (auto* fault = std::get_if<std::string>(&read)) {
        std::cerr << "dormex-lab: " << *fault << "\n";
        return std::nullopt;
    }
    return std::get<dormex::RunRecord>(std::move(read));
}

// "--name=value" as "--name" "value".
std::vector<std::string> SplitEquals(const std::vector<std::string>& arguments)
{
    std::vector<std::string> split;
    for (const std::string& argument : arguments) {
        const size_t equals = argument.find('=');
        if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            split.push_back(argument.substr(0, equals));
            split.push_back(argument.substr(equals + 1));
        } else {
            split.push_back(argument);
        }
    }
    return split;
}

int ShowVerb(const std::vector<std::string>& given)
{
    const std::vector<std::string> arguments = SplitEquals(given);
    std::vector<std::string> inputs;
    dormex::ShowFormat format = dormex::ShowFormat::Text;
    dormex::ShowGrouping grouping = dormex::ShowGrouping::Owner;
    std::optional<std::string> output;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "--format" && hasValue) {
            auto chosen = dormex::ParseShowFormat(arguments[++i]);
            if (!chosen) {
                return BadCommandLine("unknown format " + arguments[i]);
            }
            format = *chosen;
        } else if (argument == "--by" && hasValue) {
            auto chosen = dormex::ParseShowGrouping(arguments[++i]);
            if (!chosen) {
                return BadCommandLine("unknown grouping " + arguments[i]);
            }
            grouping = *chosen;
        } else if (argument == "-o" && hasValue) {
            output = arguments[++i];
        } else if (argument.rfind("-", 0) == 0) {
            return BadCommandLine("unknown option " + argument + " for show");
        } else {
            inputs.push_back(argument);
        }
    }
    const std::optional<dormex::RunRecord> run = ReadOneRun(inputs);
    if (!run) {
        return dormex::ExitBadInput;
    }
    return WriteOutput(output, dormex::FormatShow(*run, format, grouping));
}

int PacketsVerb(const std::vector<std::string>& given)
{
    const std::vector<std::string> arguments = SplitEquals(given);
    std::vector<std::string> inputs;
    std::optional<std::string> folder;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--out" && i + 1 < arguments.size()) {
            folder = arguments[++i];
        } else if (arguments[i].rfind("-", 0) == 0) {
            return BadCommandLine("unknown option " + arguments[i] + " for packets");
        } else {
            inputs.push_back(arguments[i]);
        }
    }
    if (!folder) {
        return BadCommandLine("packets needs --out DIR");
    }
    const std::optional<dormex::RunRecord> run = ReadOneRun(inputs);
    if (!run) {
        return dormex::ExitBadInput;
    }
    std::error_code error;
    const fs::path out = dormex::PathOfUtf8(*folder);
    fs::create_directories(out, error);
    if (error) {
        std::cerr << "dormex-lab: cannot make " << *folder << ": " << error.message() << "\n";
        return dormex::ExitBadInput;
    }
    const std::vector<dormex::Packet> packets = dormex::MakePackets(*run);
    for (const dormex::Packet& packet : packets) {
        const std::string path = dormex::Utf8Path(out / packet.FileName);
        if (WriteOutput(path, packet.Text) != 0) {
            return dormex::ExitBadInput;
        }
        std::cout << path << ": " << packet.Owner << ", " << packet.Findings
                  << (packet.Findings == 1 ? " finding\n" : " findings\n");
    }
    if (packets.empty()) {
        std::cout << (run->Stop ? "The run stopped before its report: no findings.\n"
                                : "No findings: no packets.\n");
    }
    return 0;
}

int SummaryVerb(const std::vector<std::string>& arguments)
{
    std::vector<std::string> inputs;
    dormex::SummaryFormat format = dormex::SummaryFormat::Text;
    std::optional<std::string> output;
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        std::optional<std::string> value;
        if (argument.rfind("--format=", 0) == 0) {
            value = argument.substr(9);
            argument = "--format";
        } else if ((argument == "--format" || argument == "-o") && i + 1 < arguments.size()) {
            value = arguments[++i];
        }
        if (argument == "--format" && value) {
            auto chosen = dormex::ParseSummaryFormat(*value);
            if (!chosen) {
                return BadCommandLine("unknown format " + *value);
            }
            format = *chosen;
        } else if (argument == "-o" && value) {
            output = *value;
        } else if (argument.rfind("-", 0) == 0) {
            return BadCommandLine("unknown option " + argument + " for summary");
        } else {
            inputs.push_back(argument);
        }
    }
    if (inputs.empty()) {
        return BadCommandLine("no RESULTS given");
    }
    dormex::Summary summary;
    if (!ReadEachRun(inputs, [&](dormex::RunRecord run) { summary.Add(run); })) {
        return dormex::ExitBadInput;
    }
    return WriteOutput(output, dormex::FormatSummary(summary, format));
}

int HistoryVerb(const std::vector<std::string>& arguments)
{
    std::vector<std::string> inputs;
    dormex::HistoryOrder order = dormex::HistoryOrder::Time;
    bool failOnNew = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "--by" && hasValue &&
            (arguments[i + 1] == "time" || arguments[i + 1] == "bios")) {
            order =
                arguments[++i] == "bios" ? dormex::HistoryOrder::Bios : dormex::HistoryOrder::Time;
        } else if (argument == "--fail-on" && hasValue && arguments[i + 1] == "new") {
            failOnNew = true;
            ++i;
        } else if (argument.rfind("--", 0) == 0) {
            return BadCommandLine("unknown option " + argument + " for history");
        } else {
            inputs.push_back(argument);
        }
    }
    if (inputs.empty()) {
        return BadCommandLine("no RESULTS given");
    }
    std::vector<dormex::RunRecord> runs;
    if (!ReadEachRun(inputs, [&](dormex::RunRecord run) { runs.push_back(std::move(run)); })) {
        return dormex::ExitBadInput;
    }
    const dormex::History history = dormex::BuildHistory(std::move(runs), order);
    std::cout << history.Text;
    if (!history.NewInLatest.empty()) {
        std::cout << "New in the latest run:\n";
        for (const std::string& line : history.NewInLatest) {
            std::cout << "  " << line << "\n";
        }
    }
    return failOnNew && !history.NewInLatest.empty() ? 1 : 0;
}

int WhatIfVerb(const Options& options)
{
    dormex::Library library = dormex::FindCaptures(options.Captures, {});
    if (!library.Fault.empty()) {
        return BadCommandLine(library.Fault);
    }
    std::unique_ptr<dormex::FileSystem> files = dormex::MakeNativeFileSystem();
    const dormex::WhatIfReport report =
        dormex::RunWhatIf(library.Captures, options.Run, *options.Rules, *options.Against, *files);
    std::cout << report.Text;
    return report.Altered + report.Uncompared == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (arguments.empty()) {
        std::cerr << Usage;
        return dormex::ExitBadInput;
    }
    const std::string verb = arguments.front();
    arguments.erase(arguments.begin());
    if (verb == "--help" || verb == "-h") {
        std::cout << Usage << Help;
        return 0;
    }
    if (verb == "--version") {
        std::cout << "dormex-lab " << dormex::DormexVersion << "\n";
        return 0;
    }
    if (verb == "history") {
        return HistoryVerb(arguments);
    }
    if (verb == "summary") {
        return SummaryVerb(arguments);
    }
    if (verb == "show") {
        return ShowVerb(arguments);
    }
    if (verb == "packets") {
        return PacketsVerb(arguments);
    }
    if (verb != "run" && verb != "what-if") {
        return BadCommandLine("unknown verb " + verb);
    }
    auto parsed = ParseOptions(verb, arguments);
    if (auto* message = std::get_if<std::string>(&parsed)) {
        return BadCommandLine(*message);
    }
    Options& options = std::get<Options>(parsed);
    return verb == "run" ? RunVerb(std::move(options)) : WhatIfVerb(options);
}
