#include "results/ResultsDiff.h"

#include <algorithm>
#include <map>

#include "common/StrictJson.h"
#include "results/ResultsWriter.h"

namespace dormex {

namespace {

using Json = nlohmann::ordered_json;

// Thrown inside the reader only; ReadComparedFindings turns it into a result.
struct Fault {
    std::string text;
};

void Expect(bool holds, const std::string& path, const std::string& fault)
{
    if (!holds) {
        throw Fault{path + ": " + fault};
    }
}

// The member of a JSON object, const or not.
template <typename Object>
Object& Member(Object& object, const std::string& path, const char* name)
{
    auto member = object.find(name);
    Expect(member != object.end(), path, std::string("no member \"") + name + "\"");
    return *member;
}

bool IsTextOrNull(const Json& value)
{
    return value.is_string() || value.is_null();
}

void CheckStates(const Json& states, const std::string& path)
{
    if (states.is_null()) {
        return;
    }
    Expect(states.is_array(), path, "not an array or null");
    for (size_t i = 0; i < states.size(); ++i) {
        const std::string at = path + "[" + std::to_string(i) + "]";
        Expect(states[i].is_object(), at, "not an object");
        Expect(Member(states[i], at, "D").is_number_integer(), at + ".D", "not an integer");
        const Json& f = Member(states[i], at, "F");
        Expect(f.is_number_integer() || f.is_null(), at + ".F", "not an integer or null");
    }
}

// The members the comparison reads and shows, each of its type.
void CheckFinding(const Json& finding, const std::string& path)
{
    Expect(finding.is_object(), path, "not an object");
    Expect(Member(finding, path, "kind").is_number_integer(), path + ".kind", "not an integer");
    Expect(Member(finding, path, "kindName").is_string(), path + ".kindName", "not a string");
    for (const char* name : {"device", "class"}) {
        Expect(IsTextOrNull(Member(finding, path, name)), path + "." + name,
               "not a string or null");
    }
    const Json& rule = Member(finding, path, "rule");
    if (!rule.is_null()) {
        Expect(rule.is_object(), path + ".rule", "not an object or null");
        for (const char* name : {"regex", "serviceName", "type"}) {
            Expect(Member(rule, path + ".rule", name).is_string(), path + ".rule." + name,
                   "not a string");
        }
    }
    CheckStates(Member(finding, path, "expected"), path + ".expected");
    CheckStates(Member(finding, path, "actual"), path + ".actual");
    if (finding.contains("problemCode")) {
        Expect(finding["problemCode"].is_number_integer(), path + ".problemCode", "not an integer");
    }
    Expect(Member(finding, path, "actionBy").is_string(), path + ".actionBy", "not a string");
}

std::string KeyOf(const Json& finding)
{
    const Json& rule = finding["rule"];
    return Json::array({finding["kind"], finding["device"], finding["class"],
                        rule.is_null() ? Json() : rule["serviceName"],
                        rule.is_null() ? Json() : rule["regex"]})
        .dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The members a comparison does not read still have the types a results
// document gives them, when they are there.
void CheckOtherMembers(const Json& document)
{
    struct Kind {
        const char* name;
        bool (*holds)(const Json&);
        const char* fault;
    };
    static constexpr Kind kinds[] = {
        {"version", [](const Json& v) { return v.is_string(); }, "not a string"},
        {"time", [](const Json& v) { return v.is_string(); }, "not a string"},
        {"machine", [](const Json& v) { return v.is_object(); }, "not an object"},
        {"ruleFile", [](const Json& v) { return v.is_object() || v.is_null(); },
         "not an object or null"},
        {"lpit", [](const Json& v) { return v.is_object(); }, "not an object"},
        {"devices", [](const Json& v) { return v.is_object(); }, "not an object"},
        {"issues", [](const Json& v) { return v.is_number_unsigned(); },
         "not a count (an integer from 0)"},
    };
    for (const Kind& kind : kinds) {
        auto member = document.find(kind.name);
        Expect(member == document.end() || kind.holds(*member), std::string("$.") + kind.name,
               kind.fault);
    }
}

// Moves the findings out of the document.
std::vector<ComparedFinding> ReadFindings(Json& document)
{
    Expect(document.is_object(), "$", "not a JSON object");
    const Json& format = Member(document, "$", "format");
    Expect(format == std::string(ResultsFormat), "$.format",
           "not \"" + std::string(ResultsFormat) + "\" (not a Dormex results file)");
    CheckOtherMembers(document);

    const Json& outcome = Member(document, "$", "outcome");
    Expect(outcome.is_object(), "$.outcome", "not an object");
    const Json& result = Member(outcome, "$.outcome", "result");
    Expect(result == "completed" || result == "stopped", "$.outcome.result",
           "neither \"completed\" nor \"stopped\"");
    if (result == "stopped") {
        const Json& stop = Member(outcome, "$.outcome", "stop");
        const Json& code = Member(outcome, "$.outcome", "code");
        throw Fault{"the run stopped before its report (" +
                    JsonExcerpt(stop.is_string() ? stop.get<std::string>() : stop.dump()) +
                    ", code " + JsonExcerpt(code.dump()) + "): it has no findings to compare"};
    }

    Json& findings = Member(document, "$", "findings");
    Expect(findings.is_array(), "$.findings", "not an array");
    std::vector<ComparedFinding> compared;
    compared.reserve(findings.size());
    for (size_t i = 0; i < findings.size(); ++i) {
        CheckFinding(findings[i], "$.findings[" + std::to_string(i) + "]");
        compared.push_back({KeyOf(findings[i]), std::move(findings[i])});
    }
    return compared;
}

std::string Text(const Json& value)
{
    return value.is_string() ? value.get<std::string>() : std::string();
}

// "D3/F0 D3/F0"; "none" for no state, "-" for an F-state without a component.
std::string States(const Json& states)
{
    if (states.empty()) {
        return "none";
    }
    std::string text;
    for (const Json& state : states) {
        text += (text.empty() ? "D" : " D") + state["D"].dump() + "/F" +
                (state["F"].is_null() ? "-" : state["F"].dump());
    }
    return text;
}

// The device with its class, as the report names it, or the class alone.
std::string Subject(const Json& finding)
{
    const std::string device = Text(finding["device"]);
    const std::string cls = Text(finding["class"]);
    if (cls.empty()) {
        return device;
    }
    return device.empty() ? cls : device + " (" + cls + ")";
}

std::vector<std::string> Details(const Json& finding)
{
    std::vector<std::string> details;
    if (!finding["expected"].is_null()) {
        details.push_back("expected " + States(finding["expected"]));
    }
    if (!finding["actual"].is_null()) {
        details.push_back("actual " + States(finding["actual"]));
    }
    if (finding.contains("problemCode")) {
        details.push_back("problem code " + finding["problemCode"].dump());
    }
    return details;
}

struct Change {
    const char* name;
    const std::vector<const ComparedFinding*>* findings;
};

std::vector<Change> Changes(const ResultsDiff& diff)
{
    return {{"new", &diff.New}, {"fixed", &diff.Fixed}, {"unchanged", &diff.Unchanged}};
}

std::string TextLines(const ResultsDiff& diff)
{
    std::string text = DiffSummary(diff) + "\n";
    for (const Change& change : Changes(diff)) {
        for (const ComparedFinding* compared : *change.findings) {
            std::string line = change.name;
            line.resize(10, ' ');
            text += line + FindingLine(compared->Finding) + "\n";
        }
    }
    return text;
}

// One line of a table cell: '|' would end the cell and a line break the row.
std::string CellLine(std::string_view text)
{
    std::string cell;
    for (char c : text) {
        if (c == '|') {
            cell += "\\|";
        } else {
            cell += (c == '\n' || c == '\r') ? ' ' : c;
        }
    }
    return cell;
}

// Plain text in a cell, every character Markdown would act on escaped.
std::string PlainCell(std::string_view text)
{
    std::string escaped;
    for (char c : text) {
        if (std::string_view("\\`*_[]<>~&").find(c) != std::string_view::npos) {
            escaped += '\\';
        }
        escaped += c;
    }
    return CellLine(escaped);
}

// Text shown as it is (device ids, patterns): a code span whose fence is
// longer than any run of backticks inside it.
std::string CodeCell(std::string_view text)
{
    if (text.empty()) {
        return {};
    }
    size_t longest = 0;
    size_t run = 0;
    for (char c : text) {
        run = c == '`' ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    const std::string fence(longest + 1, '`');
    const bool pad = text.front() == '`' || text.back() == '`';
    const std::string inner = pad ? " " + std::string(text) + " " : std::string(text);
    return fence + CellLine(inner) + fence;
}

std::string MarkdownTable(const ResultsDiff& diff)
{
    std::string text = "**" + DiffSummary(diff) + "**\n";
    if (diff.New.empty() && diff.Fixed.empty() && diff.Unchanged.empty()) {
        return text;
    }
    text +=
        "\n| Change | Kind | Device | Class | Rule | Expected | Actual | Problem code | Ask |\n"
        "|---|---|---|---|---|---|---|---|---|\n";
    for (const Change& change : Changes(diff)) {
        for (const ComparedFinding* compared : *change.findings) {
            const Json& finding = compared->Finding;
            const Json& rule = finding["rule"];
            std::string ruleCell;
            if (!rule.is_null()) {
                ruleCell = CodeCell(Text(rule["serviceName"]));
                const std::string pattern = CodeCell(Text(rule["regex"]));
                ruleCell += ruleCell.empty() || pattern.empty() ? pattern : " " + pattern;
            }
            const std::vector<std::string> row = {
                change.name,
                PlainCell(Text(finding["kindName"]) + " (" + finding["kind"].dump() + ")"),
                CodeCell(Text(finding["device"])),
                PlainCell(Text(finding["class"])),
                ruleCell,
                finding["expected"].is_null() ? "" : States(finding["expected"]),
                finding["actual"].is_null() ? "" : States(finding["actual"]),
                finding.contains("problemCode") ? finding["problemCode"].dump() : "",
                PlainCell(Text(finding["actionBy"])),
            };
            for (const std::string& cell : row) {
                text += "| " + cell + " ";
            }
            text += "|\n";
        }
    }
    return text;
}

std::string JsonDocument(const ResultsDiff& diff)
{
    Json document = {
        {"format", "dormex-diff/1"},
        {"summary", DiffSummary(diff)},
        {"counts",
         {{"new", diff.New.size()},
          {"fixed", diff.Fixed.size()},
          {"unchanged", diff.Unchanged.size()}}},
    };
    for (const Change& change : Changes(diff)) {
        Json findings = Json::array();
        for (const ComparedFinding* compared : *change.findings) {
            findings.push_back(compared->Finding);
        }
        document[change.name] = std::move(findings);
    }
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

std::string FindingLine(const nlohmann::ordered_json& finding)
{
    std::string line = Text(finding["kindName"]);
    if (std::string subject = Subject(finding); !subject.empty()) {
        line += " " + subject;
    }
    std::vector<std::string> details = Details(finding);
    for (size_t i = 0; i < details.size(); ++i) {
        line += (i == 0 ? ": " : ", ") + details[i];
    }
    return line + "; ask " + Text(finding["actionBy"]);
}

std::variant<std::vector<ComparedFinding>, std::string> ReadComparedFindings(std::string_view json)
{
    Json document;
    try {
        document = ParseStrictJson<Json>(json);
    } catch (const JsonFault& fault) {
        // A syntax error names its place by byte, not by member.
        const bool syntax = fault.Message.rfind("not valid JSON", 0) == 0;
        return syntax ? JsonExcerpt(fault.Message, 200) : fault.Path + ": " + fault.Message;
    }
    return ReadDocumentFindings(std::move(document));
}

std::variant<std::vector<ComparedFinding>, std::string> ReadDocumentFindings(
    nlohmann::ordered_json document)
{
    try {
        return ReadFindings(document);
    } catch (const Fault& fault) {
        return fault.text;
    }
}

ResultsDiff DiffResults(const std::vector<ComparedFinding>& before,
                        const std::vector<ComparedFinding>& after)
{
    auto countKeys = [](const std::vector<ComparedFinding>& findings) {
        std::map<std::string, size_t> counts;
        for (const ComparedFinding& finding : findings) {
            ++counts[finding.Key];
        }
        return counts;
    };
    std::map<std::string, size_t> unmatchedBefore = countKeys(before);
    std::map<std::string, size_t> unmatchedAfter = countKeys(after);
    ResultsDiff diff;
    for (const ComparedFinding& finding : after) {
        if (size_t& count = unmatchedBefore[finding.Key]; count > 0) {
            --count;
            diff.Unchanged.push_back(&finding);
        } else {
            diff.New.push_back(&finding);
        }
    }
    for (const ComparedFinding& finding : before) {
        if (size_t& count = unmatchedAfter[finding.Key]; count > 0) {
            --count;
        } else {
            diff.Fixed.push_back(&finding);
        }
    }
    return diff;
}

std::optional<DiffFormat> ParseDiffFormat(std::string_view name)
{
    if (name == "text") {
        return DiffFormat::Text;
    }
    if (name == "markdown") {
        return DiffFormat::Markdown;
    }
    if (name == "json") {
        return DiffFormat::Json;
    }
    return std::nullopt;
}

std::string DiffSummary(const ResultsDiff& diff)
{
    return std::to_string(diff.New.size()) + " new, " + std::to_string(diff.Fixed.size()) +
           " fixed, " + std::to_string(diff.Unchanged.size()) + " unchanged";
}

std::string FormatDiff(const ResultsDiff& diff, DiffFormat format)
{
    switch (format) {
    case DiffFormat::Markdown:
        return MarkdownTable(diff);
    case DiffFormat::Json:
        return JsonDocument(diff);
    case DiffFormat::Text:
        break;
    }
    return TextLines(diff);
}

}  // namespace dormex
