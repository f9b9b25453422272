#pragma once

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

// The findings of a results document in their order, or what is wrong with
// the document: the JSON path of the member and the fault. A run that stopped
// before its report has no findings to compare and is refused.
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

// "2 new, 1 fixed, 7 unchanged"
std::string DiffSummary(const ResultsDiff& diff);

// The summary line, then every finding with its change: one line each, a
// Markdown table, or a JSON document.
std::string FormatDiff(const ResultsDiff& diff, DiffFormat format);

}  // namespace dormex
