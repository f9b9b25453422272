#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

namespace dormex {

// One finding of a results document, with the key that makes it the same
// finding in another run: its kind, device, class and rule (service name and
// pattern), never its place in the list.
struct ComparedFinding {
    std::string Key;
    nlohmann::ordered_json Finding;
};

// Which machine, firmware and rule file a run had, as far as its results
// document says: every member is optional there, and what a document lacks,
// or gives as "Unknown", is empty here. Line breaks read as spaces.
struct RunHeader {
    std::string Manufacturer;
    std::string ProductName;
    std::string Architecture;  // of the processor
    std::string Family;
    std::string Model;
    std::string Stepping;
    std::string BiosVersion;
    std::string Time;
    std::string RuleFile;  // its path, as the run names it
};

RunHeader ReadRunHeader(const nlohmann::ordered_json& document);

// A results document read for a comparison: its header and its findings.
struct ComparedRun {
    RunHeader Header;
    std::vector<ComparedFinding> Findings;
};

// The run a results document describes, or what is wrong with the document:
// the JSON path of the member and the fault. A run that stopped before its
// report has no findings to compare and is refused.
std::variant<ComparedRun, std::string> ReadComparedRun(std::string_view json);
// Its findings alone.
std::variant<std::vector<ComparedFinding>, std::string> ReadComparedFindings(std::string_view json);
// The same of a document already parsed (strictly).
std::variant<std::vector<ComparedFinding>, std::string> ReadDocumentFindings(
    nlohmann::ordered_json document);

// A finding as one line of text: its kind, device and class, expected and
// actual states or problem code, and who is asked to act.
std::string FindingLine(const nlohmann::ordered_json& finding);

// What changed from one run to the next, pointing into the findings it was
// made from. A key found n times before and m times after gives min(n, m)
// unchanged findings and the rest new or fixed.
struct ResultsDiff {
    std::vector<const ComparedFinding*> New;        // in the order of the newer run
    std::vector<const ComparedFinding*> Fixed;      // in the order of the older run
    std::vector<const ComparedFinding*> Unchanged;  // as the newer run has them
};

ResultsDiff DiffResults(const std::vector<ComparedFinding>& before,
                        const std::vector<ComparedFinding>& after);

enum class DiffFormat { Text, Markdown, Json };

std::optional<DiffFormat> ParseDiffFormat(std::string_view name);

// The most an issue tracker takes in one comment; a longer text or Markdown
// listing says so at its end.
inline constexpr size_t TrackerCommentLimit = 65536;

// How a diff is shown. Sizes count the bytes of the UTF-8 output with a line
// break as one, never fewer than the characters a tracker counts.
struct DiffLayout {
    DiffFormat Format = DiffFormat::Text;
    bool ChangesOnly = false;  // the unchanged findings are counted, not listed
    // Listed findings are left out from the end to fit.
    std::optional<size_t> MaxChars = std::nullopt;
};

// A dormex-diff command line.
struct DiffOptions {
    enum class Action { Compare, Help, Version };
    Action Do = Action::Compare;
    std::vector<std::string> Files;  // OLD and NEW
    DiffLayout Layout;
};

// The options of the arguments after the program's name, read in order
// ("--format X" or "--format=X", the same for --max-chars), or what is wrong
// with them. --help and --version end the reading.
std::variant<DiffOptions, std::string> ParseDiffOptions(const std::vector<std::string>& arguments);

// Text shown as it is in Markdown, in a table cell or a paragraph: every
// character Markdown would act on escaped (a backslash of a device path, an
// underscore, '|' that would end a cell), a line break made a blank.
std::string MarkdownText(std::string_view text);
// Ids, patterns and paths as Markdown code: a span whose fence is longer than
// any run of backticks inside it, on one line; in a table '|' is escaped.
std::string MarkdownCode(std::string_view text, bool inTable = false);

// "2 new, 1 fixed, 7 unchanged"
std::string DiffSummary(const ResultsDiff& diff);

// The runs a diff compares.
struct DiffRuns {
    RunHeader Old;
    RunHeader New;
};

// The summary line, a line for each run with a warning when they are of two
// machines or used two rule files, then every finding listed with its change:
// one line each, a Markdown table with a block of details, or a JSON document.
// Without `runs` there are no run lines. Returns the least MaxChars that would
// do when layout.MaxChars cannot hold the summary, the runs and the note of
// what is left out.
std::variant<std::string, size_t> FormatDiff(const ResultsDiff& diff, const DiffRuns* runs,
                                             const DiffLayout& layout);
// Without runs and without a limit.
std::string FormatDiff(const ResultsDiff& diff, DiffFormat format);

}  // namespace dormex
