#include "results/ResultsDiff.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <iterator>
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
    if (auto info = finding.find("deviceInfo"); info != finding.end()) {
        Expect(info->is_object(), path + ".deviceInfo", "not an object");
        for (const auto& member : info->items()) {
            Expect(IsTextOrNull(member.value()), path + ".deviceInfo." + member.key(),
                   "not a string or null");
        }
    }
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

// A member of the document as one line of text: a string, or a number written
// out; empty where the path leads nowhere, or to "Unknown".
std::string HeaderText(const Json& document, std::initializer_list<const char*> path)
{
    const Json* value = &document;
    for (const char* name : path) {
        auto member = value->find(name);  // end() when not an object
        if (member == value->end()) {
            return {};
        }
        value = &*member;
    }
    std::string text = value->is_number() ? value->dump() : Text(*value);
    std::replace_if(
        text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
    return text == "Unknown" ? std::string() : text;
}

std::string OrUnknown(const std::string& text)
{
    return text.empty() ? "unknown" : text;
}

std::string FamilyAndModel(const RunHeader& run)
{
    return "Family " + OrUnknown(run.Family) + " Model " + OrUnknown(run.Model);
}

// "Family 6 Model 170 Stepping 4, x64"
std::string ProcessorLabel(const RunHeader& run)
{
    std::string label = FamilyAndModel(run) + " Stepping " + OrUnknown(run.Stepping);
    return run.Architecture.empty() ? label : label + ", " + run.Architecture;
}

// The maker and product, else the processor's family and model.
std::string MachineLabel(const RunHeader& run)
{
    std::string label = run.Manufacturer;
    if (!label.empty() && !run.ProductName.empty()) {
        label += ' ';
    }
    label += run.ProductName;
    if (!label.empty()) {
        return label;
    }
    return run.Family.empty() && run.Model.empty() ? "unknown machine" : FamilyAndModel(run);
}

// The members that stay the same across the BIOS and OS builds of one machine.
constexpr std::string RunHeader::*MachineIdentity[] = {
    &RunHeader::Manufacturer, &RunHeader::ProductName, &RunHeader::Architecture,
    &RunHeader::Family,       &RunHeader::Model,       &RunHeader::Stepping,
};

// Two runs that are more than two builds of one machine with one rule file:
// what differs, with how each run names it.
struct Difference {
    const char* warning;
    const char* jsonMember;  // false in the JSON document
    std::string old;
    std::string now;
    bool isPath;
};

std::vector<Difference> Differences(const DiffRuns& runs)
{
    // A member one file lacks is not compared: files of earlier versions lack
    // the maker and the product.
    auto differ = [](const std::string& old, const std::string& now) {
        return !old.empty() && !now.empty() && old != now;
    };
    std::vector<Difference> differences;
    if (std::any_of(std::begin(MachineIdentity), std::end(MachineIdentity),
                    [&](auto member) { return differ(runs.Old.*member, runs.New.*member); })) {
        std::string old = MachineLabel(runs.Old);
        std::string now = MachineLabel(runs.New);
        if (old == now) {
            old += ", " + ProcessorLabel(runs.Old);
            now += ", " + ProcessorLabel(runs.New);
        }
        differences.push_back(
            {"the two runs are of different machines", "sameMachine", old, now, false});
    }
    if (differ(runs.Old.RuleFile, runs.New.RuleFile)) {
        differences.push_back({"the two runs used different rule files", "sameRuleFile",
                               runs.Old.RuleFile, runs.New.RuleFile, true});
    }
    return differences;
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

// A member of the finding's deviceInfo; empty without one.
std::string InfoText(const Json& finding, const char* name)
{
    auto info = finding.find("deviceInfo");
    if (info == finding.end() || !info->contains(name)) {
        return {};
    }
    return Text((*info)[name]);
}

struct Change {
    const char* name;
    const std::vector<const ComparedFinding*>* findings;
};

std::vector<Change> Changes(const ResultsDiff& diff, bool changesOnly)
{
    if (changesOnly) {
        return {{"new", &diff.New}, {"fixed", &diff.Fixed}};
    }
    return {{"new", &diff.New}, {"fixed", &diff.Fixed}, {"unchanged", &diff.Unchanged}};
}

// A finding as it is listed, with its change.
struct Listed {
    const char* change;
    const Json* finding;
};

// All a listing is made of; it shows the first `shown` of the findings.
struct Sheet {
    const ResultsDiff& diff;
    const DiffRuns* runs;
    std::vector<Change> changes;
    std::vector<Listed> listed;
    std::vector<Difference> differences;
};

Sheet MakeSheet(const ResultsDiff& diff, const DiffRuns* runs, bool changesOnly)
{
    Sheet sheet{diff, runs, Changes(diff, changesOnly), {}, {}};
    for (const Change& change : sheet.changes) {
        for (const ComparedFinding* compared : *change.findings) {
            sheet.listed.push_back({change.name, &compared->Finding});
        }
    }
    if (runs != nullptr) {
        sheet.differences = Differences(*runs);
    }
    return sheet;
}

using Show = std::string (*)(std::string_view);

std::string AsIs(std::string_view text)
{
    return std::string(text);
}

// "Halvard Computing Sparrowline 14 Gen 3, BIOS 1.0.7, 2026-12-01T08:00:00Z, rules_for_soc\..."
std::string RunLine(const RunHeader& run, Show plain, Show path)
{
    return plain(MachineLabel(run)) + ", BIOS " + plain(OrUnknown(run.BiosVersion)) + ", " +
           (run.Time.empty() ? "time unknown" : plain(run.Time)) + ", " +
           (run.RuleFile.empty() ? "no rule file" : path(run.RuleFile));
}

// "the two runs are of different machines (A; B)"
std::string Warning(const Difference& difference, Show plain, Show path)
{
    const Show show = difference.isPath ? path : plain;
    return std::string(difference.warning) + " (" + show(difference.old) + "; " +
           show(difference.now) + ")";
}

std::string TextLines(const Sheet& sheet, size_t shown, const std::string& note)
{
    std::string text = DiffSummary(sheet.diff) + "\n";
    if (sheet.runs != nullptr) {
        text += "old: " + RunLine(sheet.runs->Old, AsIs, AsIs) + "\n";
        text += "new: " + RunLine(sheet.runs->New, AsIs, AsIs) + "\n";
    }
    for (const Difference& difference : sheet.differences) {
        text += "warning: " + Warning(difference, AsIs, AsIs) + "\n";
    }
    for (size_t i = 0; i < shown; ++i) {
        std::string line = sheet.listed[i].change;
        line.resize(10, ' ');
        text += line + FindingLine(*sheet.listed[i].finding) + "\n";
    }
    if (!note.empty()) {
        text += "note: " + note + "\n";
    }
    return text;
}

// One line of Markdown. In a table cell '|' is escaped, as it would end the
// cell; elsewhere an escape would show inside a code span.
std::string OneLine(std::string_view text, bool inTable)
{
    std::string line;
    for (char c : text) {
        if (c == '|' && inTable) {
            line += "\\|";
        } else {
            line += (c == '\n' || c == '\r') ? ' ' : c;
        }
    }
    return line;
}

}  // namespace

std::string MarkdownText(std::string_view text)
{
    std::string escaped;
    for (char c : text) {
        if (std::string_view("\\`*_[]<>~&|#").find(c) != std::string_view::npos) {
            escaped += '\\';
        }
        escaped += c;
    }
    return OneLine(escaped, false);
}

std::string MarkdownCode(std::string_view text, bool inTable)
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
    return fence + OneLine(inner, inTable) + fence;
}

namespace {

std::string CodeText(std::string_view text)
{
    return MarkdownCode(text, false);
}

// The device's name from the device manager, then its id as code.
std::string DeviceCell(const Json& finding, bool inTable)
{
    const std::string name = MarkdownText(InfoText(finding, "name"));
    const std::string id = MarkdownCode(Text(finding["device"]), inTable);
    return name.empty() || id.empty() ? name + id : name + " " + id;
}

// The rule's service name and pattern as code.
std::string RuleCell(const Json& finding, bool inTable)
{
    const Json& rule = finding["rule"];
    if (rule.is_null()) {
        return {};
    }
    const std::string service = MarkdownCode(Text(rule["serviceName"]), inTable);
    const std::string pattern = MarkdownCode(Text(rule["regex"]), inTable);
    return service.empty() || pattern.empty() ? service + pattern : service + " " + pattern;
}

// A list item with all a table row leaves out.
std::string DetailItem(const Listed& listed)
{
    const Json& finding = *listed.finding;
    std::string item = listed.change;
    item += " " + MarkdownText(Text(finding["kindName"]));
    if (const std::string device = DeviceCell(finding, false); !device.empty()) {
        item += " on " + device;
    }
    std::vector<std::string> details;
    if (const std::string cls = Text(finding["class"]); !cls.empty()) {
        details.push_back("class " + MarkdownText(cls));
    }
    if (const std::string rule = RuleCell(finding, false); !rule.empty()) {
        details.push_back("rule " + rule);
    }
    for (std::string& detail : Details(finding)) {
        details.push_back(std::move(detail));
    }
    // A problem code's device is its instance path already.
    const std::string instancePath = InfoText(finding, "instancePath");
    if (!instancePath.empty() && instancePath != Text(finding["device"])) {
        details.push_back("instance path " + CodeText(instancePath));
    }
    if (const std::string id = InfoText(finding, "hardwareId"); !id.empty()) {
        details.push_back("hardware id " + CodeText(id));
    }
    std::string driver = InfoText(finding, "driverProvider");
    if (const std::string version = InfoText(finding, "driverVersion"); !version.empty()) {
        driver += driver.empty() ? version : " " + version;
    }
    if (!driver.empty()) {
        details.push_back("driver " + MarkdownText(driver));
    }
    for (size_t i = 0; i < details.size(); ++i) {
        item += (i == 0 ? ": " : "; ") + details[i];
    }
    return item;
}

std::string MarkdownTable(const Sheet& sheet, size_t shown, const std::string& note)
{
    std::string text = "**" + DiffSummary(sheet.diff) + "**\n";
    if (sheet.runs != nullptr) {
        text += "\n- old: " + RunLine(sheet.runs->Old, MarkdownText, CodeText) + "\n";
        text += "- new: " + RunLine(sheet.runs->New, MarkdownText, CodeText) + "\n";
    }
    for (const Difference& difference : sheet.differences) {
        text += "\n**Warning:** " + Warning(difference, MarkdownText, CodeText) + "\n";
    }
    if (shown > 0) {
        text += "\n| Change | Device | Kind | Ask |\n|---|---|---|---|\n";
        for (size_t i = 0; i < shown; ++i) {
            const Json& finding = *sheet.listed[i].finding;
            text += std::string("| ") + sheet.listed[i].change + " | " + DeviceCell(finding, true) +
                    " | " + MarkdownText(Text(finding["kindName"])) + " | " +
                    MarkdownText(Text(finding["actionBy"])) + " |\n";
        }
        text += "\n<details><summary>Details</summary>\n\n";
        for (size_t i = 0; i < shown; ++i) {
            text += "- " + DetailItem(sheet.listed[i]) + "\n";
        }
        text += "\n</details>\n";
    }
    if (!note.empty()) {
        text += "\n**Note:** " + note + "\n";
    }
    return text;
}

Json NullIfEmpty(const std::string& text)
{
    return text.empty() ? Json() : Json(text);
}

Json RunObject(const RunHeader& run)
{
    return {{"machine", MachineLabel(run)},
            {"biosVersion", NullIfEmpty(run.BiosVersion)},
            {"time", NullIfEmpty(run.Time)},
            {"ruleFile", NullIfEmpty(run.RuleFile)}};
}

// A listing cut short says how many findings it leaves out in "leftOut".
std::string JsonDocument(const Sheet& sheet, size_t shown)
{
    const ResultsDiff& diff = sheet.diff;
    Json document = {
        {"format", "dormex-diff/1"},
        {"summary", DiffSummary(diff)},
        {"counts",
         {{"new", diff.New.size()},
          {"fixed", diff.Fixed.size()},
          {"unchanged", diff.Unchanged.size()}}},
    };
    if (sheet.runs != nullptr) {
        document["runs"] = {{"old", RunObject(sheet.runs->Old)},
                            {"new", RunObject(sheet.runs->New)}};
        document["sameMachine"] = true;
        document["sameRuleFile"] = true;
        for (const Difference& difference : sheet.differences) {
            document[difference.jsonMember] = false;
        }
    }
    for (const Change& change : sheet.changes) {
        document[change.name] = Json::array();
    }
    for (size_t i = 0; i < shown; ++i) {
        document[sheet.listed[i].change].push_back(*sheet.listed[i].finding);
    }
    if (shown < sheet.listed.size()) {
        document["leftOut"] = sheet.listed.size() - shown;
    }
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

// The listing with its first `shown` findings and a closing note; JSON has
// "leftOut" for a note.
std::string Render(const Sheet& sheet, DiffFormat format, size_t shown, const std::string& note)
{
    switch (format) {
    case DiffFormat::Markdown:
        return MarkdownTable(sheet, shown, note);
    case DiffFormat::Json:
        return JsonDocument(sheet, shown);
    case DiffFormat::Text:
        break;
    }
    return TextLines(sheet, shown, note);
}

// A count from 1, digits alone.
std::optional<size_t> ReadCount(std::string_view text)
{
    size_t count = 0;
    const char* end = text.data() + text.size();
    auto [stop, fault] = std::from_chars(text.data(), end, count);
    if (fault != std::errc() || stop != end || count == 0) {
        return std::nullopt;
    }
    return count;
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

RunHeader ReadRunHeader(const nlohmann::ordered_json& document)
{
    return {
        .Manufacturer = HeaderText(document, {"machine", "manufacturer"}),
        .ProductName = HeaderText(document, {"machine", "productName"}),
        .Architecture = HeaderText(document, {"machine", "cpu", "architecture"}),
        .Family = HeaderText(document, {"machine", "cpu", "family"}),
        .Model = HeaderText(document, {"machine", "cpu", "model"}),
        .Stepping = HeaderText(document, {"machine", "cpu", "stepping"}),
        .BiosVersion = HeaderText(document, {"machine", "bios", "version"}),
        .Time = HeaderText(document, {"time"}),
        .RuleFile = HeaderText(document, {"ruleFile", "path"}),
    };
}

std::variant<ComparedRun, std::string> ReadComparedRun(std::string_view json)
{
    Json document;
    try {
        document = ParseStrictJson<Json>(json);
    } catch (const JsonFault& fault) {
        // A syntax error names its place by byte, not by member.
        const bool syntax = fault.Message.rfind("not valid JSON", 0) == 0;
        return syntax ? JsonExcerpt(fault.Message, 200) : fault.Path + ": " + fault.Message;
    }
    ComparedRun run{ReadRunHeader(document), {}};
    auto findings = ReadDocumentFindings(std::move(document));
    if (auto* fault = std::get_if<std::string>(&findings)) {
        return std::move(*fault);
    }
    run.Findings = std::get<std::vector<ComparedFinding>>(std::move(findings));
    return run;
}

std::variant<std::vector<ComparedFinding>, std::string> ReadComparedFindings(std::string_view json)
{
    auto run = ReadComparedRun(json);
    if (auto* fault = std::get_if<std::string>(&run)) {
        return std::move(*fault);
    }
    return std::move(std::get<ComparedRun>(run).Findings);
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

std::variant<DiffOptions, std::string> ParseDiffOptions(const std::vector<std::string>& arguments)
{
    DiffOptions options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h" || argument == "--version") {
            options.Do =
                argument == "--version" ? DiffOptions::Action::Version : DiffOptions::Action::Help;
            return options;
        }
        if (argument == "--changes-only") {
            options.Layout.ChangesOnly = true;
            continue;
        }
        if (argument.rfind("--", 0) != 0) {
            options.Files.push_back(argument);
            continue;
        }
        const size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        if (name != "--format" && name != "--max-chars") {
            return "unknown option " + argument;
        }
        std::string value;
        if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            return name + " needs a value";
        }
        if (name == "--format") {
            const std::optional<DiffFormat> format = ParseDiffFormat(value);
            if (!format) {
                return "unknown format " + value;
            }
            options.Layout.Format = *format;
        } else {
            options.Layout.MaxChars = ReadCount(value);
            if (!options.Layout.MaxChars) {
                return "--max-chars needs a number of characters from 1, not \"" + value + "\"";
            }
        }
    }
    if (options.Files.size() != 2) {
        return "two results files to compare are needed, not " +
               std::to_string(options.Files.size());
    }
    return options;
}

std::string DiffSummary(const ResultsDiff& diff)
{
    return std::to_string(diff.New.size()) + " new, " + std::to_string(diff.Fixed.size()) +
           " fixed, " + std::to_string(diff.Unchanged.size()) + " unchanged";
}

std::variant<std::string, size_t> FormatDiff(const ResultsDiff& diff, const DiffRuns* runs,
                                             const DiffLayout& layout)
{
    const Sheet sheet = MakeSheet(diff, runs, layout.ChangesOnly);
    const size_t count = sheet.listed.size();
    std::string whole = Render(sheet, layout.Format, count, {});
    if (!layout.MaxChars) {
        if (layout.Format == DiffFormat::Json || whole.size() <= TrackerCommentLimit) {
            return whole;
        }
        const std::string limit = std::to_string(TrackerCommentLimit);
        return Render(sheet, layout.Format, count,
                      "this listing has " + std::to_string(whole.size()) +
                          " characters, more than the " + limit +
                          " an issue tracker comment takes; --max-chars " + limit +
                          " cuts it to fit");
    }
    const size_t limit = *layout.MaxChars;
    if (whole.size() <= limit) {
        return whole;
    }
    auto cut = [&](size_t shown) {
        return Render(sheet, layout.Format, shown,
                      std::to_string(count - shown) + " of " + std::to_string(count) +
                          " findings left out to stay within " + std::to_string(limit) +
                          " characters");
    };
    // Each finding adds more than the note's count can lose, so the size
    // grows with the findings shown.
    const size_t least = count == 0 ? whole.size() : std::min(whole.size(), cut(0).size());
    if (least > limit) {
        return least;
    }
    size_t fits = 0;
    size_t over = count;
    while (over - fits > 1) {
        const size_t middle = fits + (over - fits) / 2;
        if (cut(middle).size() <= limit) {
            fits = middle;
        } else {
            over = middle;
        }
    }
    return cut(fits);
}

std::string FormatDiff(const ResultsDiff& diff, DiffFormat format)
{
    return std::get<std::string>(FormatDiff(diff, nullptr, {.Format = format}));
}

}  // namespace dormex
