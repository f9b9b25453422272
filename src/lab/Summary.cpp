#include "lab/Summary.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "lab/Library.h"
#include "report/Html.h"

namespace dormex {

namespace {

using Json = nlohmann::ordered_json;

// Names shown for one group; the rest are counted.
constexpr size_t NamesShown = 20;

// "1 run", "2 runs".
std::string Count(size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string Identity(const RunRecord& run)
{
    return run.Manufacturer + " " + run.ProductName + "; " + run.Processor + "; BIOS " +
           run.BiosVendor + " " + run.BiosVersion + "; OS build " + run.OsBuild;
}

std::string RuleOf(const Json& finding)
{
    const Json& rule = finding.contains("rule") ? finding["rule"] : Json();
    if (!rule.is_object()) {
        return {};
    }
    auto text = [](const Json& value) { return value.is_string() ? value.get<std::string>() : ""; };
    return text(finding.value("class", Json())) + ": " + text(rule.value("serviceName", Json())) +
           " /" + text(rule.value("regex", Json())) + "/ (" + text(rule.value("type", Json())) +
           ")";
}

// Largest first; ties in name order.
template <typename T, typename Size>
void LargestFirst(std::vector<T>& items, Size size)
{
    std::stable_sort(items.begin(), items.end(),
                     [&](const auto& a, const auto& b) { return size(a) > size(b); });
}

}  // namespace

void Summary::Add(const RunRecord& run)
{
    const size_t index = runs_.size();
    runs_.push_back(
        {run.Capture != "Unknown" ? run.Capture : Utf8Path(run.File), run.Stop.value_or("")});
    auto [machine, added] = machineIndex_.try_emplace(Identity(run), machines_.size());
    if (added) {
        machines_.push_back({Identity(run), {}, 0});
    }
    machines_[machine->second].Members.push_back(index);
    for (const ComparedFinding& compared : run.Findings) {
        auto [found, isNew] = findingIndex_.try_emplace(compared.Key, findings_.size());
        if (isNew) {
            const Json& finding = compared.Finding;
            findings_.push_back({FindingLine(finding),
                                 finding["actionBy"].is_string()
                                     ? finding["actionBy"].get<std::string>()
                                     : std::string(),
                                 RuleOf(finding),
                                 {}});
        }
        std::vector<size_t>& runs = findings_[found->second].Runs;
        if (runs.empty() || runs.back() != index) {
            runs.push_back(index);
        }
    }
}

std::vector<Summary::Group> Summary::Machines() const
{
    std::vector<Group> groups = machines_;
    std::sort(groups.begin(), groups.end(),
              [](const Group& a, const Group& b) { return a.Name < b.Name; });
    LargestFirst(groups, [](const Group& group) { return group.Members.size(); });
    return groups;
}

std::vector<const Summary::Finding*> Summary::Findings() const
{
    std::vector<const Finding*> findings;
    for (const Finding& finding : findings_) {
        findings.push_back(&finding);
    }
    LargestFirst(findings, [](const Finding* finding) { return finding->Runs.size(); });
    return findings;
}

std::vector<Summary::Group> Summary::GroupFindings(std::string Finding::*by) const
{
    std::vector<Group> groups;
    std::unordered_map<std::string, size_t> index;
    const std::vector<const Finding*> findings = Findings();
    for (size_t i = 0; i < findings.size(); ++i) {
        const std::string& name = findings[i]->*by;
        auto [found, added] = index.try_emplace(name, groups.size());
        if (added) {
            groups.push_back({name, {}, 0});
        }
        groups[found->second].Members.push_back(i);
        groups[found->second].Occurrences += findings[i]->Runs.size();
    }
    LargestFirst(groups, [](const Group& group) { return group.Occurrences; });
    return groups;
}

std::vector<Summary::Group> Summary::Owners() const
{
    return GroupFindings(&Finding::ActionBy);
}

std::vector<Summary::Group> Summary::Rules() const
{
    return GroupFindings(&Finding::Rule);
}

std::optional<SummaryFormat> ParseSummaryFormat(std::string_view name)
{
    const std::pair<std::string_view, SummaryFormat> formats[] = {
        {"text", SummaryFormat::Text},
        {"markdown", SummaryFormat::Markdown},
        {"json", SummaryFormat::Json},
        {"html", SummaryFormat::Html}};
    for (const auto& [known, format] : formats) {
        if (name == known) {
            return format;
        }
    }
    return std::nullopt;
}

namespace {

// The views every form shows, in the order they are shown.
struct Views {
    const Summary& summary;
    std::vector<Summary::Group> machines = summary.Machines();
    std::vector<const Summary::Finding*> findings = summary.Findings();
    std::vector<Summary::Group> owners = summary.Owners();
    std::vector<Summary::Group> rules = summary.Rules();
    std::vector<const Summary::Run*> stopped = [this] {
        std::vector<const Summary::Run*> runs;
        for (const Summary::Run& run : summary.Runs()) {
            if (!run.Stop.empty()) {
                runs.push_back(&run);
            }
        }
        return runs;
    }();

    std::string Counts() const
    {
        return Count(summary.Runs().size(), "run", "runs") + " of " +
               Count(machines.size(), "machine configuration", "machine configurations") + ", " +
               Count(findings.size(), "distinct finding", "distinct findings") + ", " +
               Count(stopped.size(), "run", "runs") + " stopped";
    }
    // The names of the first runs, and how many more there are.
    std::string RunNames(const std::vector<size_t>& runs, const std::string& separator) const
    {
        std::string text;
        for (size_t i = 0; i < runs.size() && i < NamesShown; ++i) {
            text += (i == 0 ? "" : separator) + summary.Runs()[runs[i]].Name;
        }
        if (runs.size() > NamesShown) {
            text += separator + "and " + std::to_string(runs.size() - NamesShown) + " more";
        }
        return text;
    }
};

std::string GroupName(const std::string& name, const char* empty)
{
    return name.empty() ? empty : name;
}

std::string TextForm(const Views& views)
{
    std::string text = views.Counts() + "\n\nMachines (runs, configuration):\n";
    for (const Summary::Group& machine : views.machines) {
        text += "  " + std::to_string(machine.Members.size()) + "  " + machine.Name + "\n";
    }
    text += "\nFindings (runs that have them):\n";
    for (const Summary::Finding* finding : views.findings) {
        text += "  " + std::to_string(finding->Runs.size()) + "  " + finding->Line + "\n      " +
                views.RunNames(finding->Runs, ", ") + "\n";
    }
    const std::pair<const char*, const std::vector<Summary::Group>*> groupings[] = {
        {"By who is asked to act", &views.owners}, {"By rule", &views.rules}};
    for (const auto& [title, groups] : groupings) {
        text += std::string("\n") + title + " (findings, runs that have them):\n";
        for (const Summary::Group& group : *groups) {
            text += "  " + GroupName(group.Name, "(no rule)") + ": " +
                    Count(group.Members.size(), "finding", "findings") + ", " +
                    Count(group.Occurrences, "run", "runs") + "\n";
        }
    }
    text += "\nRuns that stopped:\n";
    for (const Summary::Run* run : views.stopped) {
        text += "  " + run->Name + ": " + run->Stop + "\n";
    }
    return text;
}

// A Markdown table whose rows stop where the section's share of the limit
// would be passed, saying how many were left out.
class MarkdownTable {
public:
    MarkdownTable(std::string& out, size_t budget, const std::string& header)
        : out_(out), end_(out.size() + budget)
    {
        out_ += header;
    }
    void Row(const std::vector<std::string>& cells)
    {
        std::string row;
        for (const std::string& cell : cells) {
            row += "| " + MarkdownText(cell) + " ";
        }
        row += "|\n";
        if (left_ > 0 || out_.size() + row.size() > end_) {
            ++left_;
            return;
        }
        out_ += row;
    }
    ~MarkdownTable()
    {
        if (left_ > 0) {
            out_ += "\n_" + std::to_string(left_) + " more rows left out to stay within " +
                    std::to_string(TrackerCommentLimit) +
                    " characters; the text, JSON and HTML forms have them all._\n";
        }
    }

private:
    std::string& out_;
    size_t end_;
    size_t left_ = 0;
};

std::string MarkdownForm(const Views& views)
{
    // Five sections share what the limit leaves after the headings and notes.
    constexpr size_t Share = (TrackerCommentLimit - 4096) / 5;
    std::string text = "**Dormex lab summary:** " + views.Counts() + "\n\n### Machines\n\n";
    {
        MarkdownTable table(text, Share, "| Runs | Configuration |\n|---:|---|\n");
        for (const Summary::Group& machine : views.machines) {
            table.Row({std::to_string(machine.Members.size()), machine.Name});
        }
    }
    text += "\n### Findings\n\n";
    {
        MarkdownTable table(text, Share, "| Runs | Finding | Machines |\n|---:|---|---|\n");
        for (const Summary::Finding* finding : views.findings) {
            table.Row({std::to_string(finding->Runs.size()), finding->Line,
                       views.RunNames(finding->Runs, ", ")});
        }
    }
    const std::pair<const char*, const std::vector<Summary::Group>*> groupings[] = {
        {"By who is asked to act", &views.owners}, {"By rule", &views.rules}};
    for (const auto& [title, groups] : groupings) {
        text += std::string("\n### ") + title + "\n\n";
        MarkdownTable table(text, Share, "| Group | Findings | Runs |\n|---|---:|---:|\n");
        for (const Summary::Group& group : *groups) {
            table.Row({GroupName(group.Name, "(no rule)"), std::to_string(group.Members.size()),
                       std::to_string(group.Occurrences)});
        }
    }
    text += "\n### Runs that stopped\n\n";
    {
        MarkdownTable table(text, Share, "| Run | Stop |\n|---|---|\n");
        for (const Summary::Run* run : views.stopped) {
            table.Row({run->Name, run->Stop});
        }
    }
    return text;
}

std::string JsonForm(const Views& views)
{
    const auto& runs = views.summary.Runs();
    auto names = [&](const std::vector<size_t>& members) {
        Json list = Json::array();
        for (size_t run : members) {
            list.push_back(runs[run].Name);
        }
        return list;
    };
    Json document = {{"format", "dormex-lab-summary/1"}, {"runs", runs.size()},
                     {"machines", Json::array()},        {"findings", Json::array()},
                     {"byActionBy", Json::array()},      {"byRule", Json::array()},
                     {"stopped", Json::array()}};
    for (const Summary::Group& machine : views.machines) {
        document["machines"].push_back(
            {{"configuration", machine.Name}, {"runs", names(machine.Members)}});
    }
    for (const Summary::Finding* finding : views.findings) {
        document["findings"].push_back({{"finding", finding->Line},
                                        {"actionBy", finding->ActionBy},
                                        {"rule", finding->Rule},
                                        {"count", finding->Runs.size()},
                                        {"runs", names(finding->Runs)}});
    }
    const std::pair<const char*, const std::vector<Summary::Group>*> groupings[] = {
        {"byActionBy", &views.owners}, {"byRule", &views.rules}};
    for (const auto& [member, groups] : groupings) {
        for (const Summary::Group& group : *groups) {
            document[member].push_back({{"name", group.Name},
                                        {"findings", group.Members.size()},
                                        {"runs", group.Occurrences}});
        }
    }
    for (const Summary::Run* run : views.stopped) {
        document["stopped"].push_back({{"run", run->Name}, {"stop", run->Stop}});
    }
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

// One table of the page: a heading, a header row whose cells sort it, and rows.
class HtmlTable {
public:
    HtmlTable(std::string& out, const std::string& title,
              std::initializer_list<const char*> columns)
        : out_(out)
    {
        out_ += "<h2>" + HtmlEscape(title) + "</h2>\n<table><thead><tr>";
        for (const char* column : columns) {
            out_ += std::string("<th>") + column + "</th>";
        }
        out_ += "</tr></thead><tbody>\n";
    }
    void Row(const std::vector<std::string>& cells)
    {
        out_ += "<tr>";
        for (const std::string& cell : cells) {
            out_ += "<td>" + HtmlEscape(cell) + "</td>";
        }
        out_ += "</tr>\n";
    }
    ~HtmlTable() { out_ += "</tbody></table>\n"; }

private:
    std::string& out_;
};

constexpr const char* PageStyle =
    R"(body{font-family:Segoe UI,Arial,sans-serif;margin:24px;color:#1b1b1b}
h1{font-size:22px}h2{font-size:17px;margin-top:28px}
table{border-collapse:collapse;width:100%;font-size:13px}
th,td{border:1px solid #c8c8c8;padding:4px 8px;text-align:left;vertical-align:top;word-break:break-word}
th{background:#eef1f5;cursor:pointer;user-select:none}th.up::after{content:" \25B2"}th.down::after{content:" \25BC"}
td:first-child{white-space:nowrap}
#filter{font-size:14px;padding:6px;width:40em;max-width:100%}
@media print{#filter{display:none}th{cursor:auto}})";

// Click a heading to sort its table by that column (numbers as numbers, a
// second click reverses); type in the box to keep only the rows that hold
// the text.
constexpr const char* PageScript = R"(document.querySelectorAll('th').forEach(function (th) {
  th.addEventListener('click', function () {
    var table = th.closest('table'), body = table.tBodies[0], column = th.cellIndex;
    var down = !th.classList.contains('down');
    table.querySelectorAll('th').forEach(function (other) { other.classList.remove('up', 'down'); });
    th.classList.add(down ? 'down' : 'up');
    var rows = Array.prototype.slice.call(body.rows);
    rows.sort(function (a, b) {
      var x = a.cells[column].textContent, y = b.cells[column].textContent;
      var order = (isNaN(x) || isNaN(y)) ? x.localeCompare(y, undefined, {numeric: true}) : x - y;
      return down ? -order : order;
    });
    rows.forEach(function (row) { body.appendChild(row); });
  });
});
document.getElementById('filter').addEventListener('input', function (event) {
  var words = event.target.value.toLowerCase();
  document.querySelectorAll('tbody tr').forEach(function (row) {
    row.hidden = words !== '' && row.textContent.toLowerCase().indexOf(words) < 0;
  });
});)";

std::string HtmlForm(const Views& views)
{
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<title>Dormex lab summary</title><style>";
    page += PageStyle;
    page += "</style></head><body>\n<h1>Dormex lab summary</h1>\n<p id=\"counts\">" +
            HtmlEscape(views.Counts()) +
            "</p>\n<input id=\"filter\" type=\"search\" placeholder=\"Show only rows that "
            "contain...\" aria-label=\"Filter\">\n";
    {
        HtmlTable table(page, "Findings", {"Runs", "Finding", "Ask", "Rule", "Machines"});
        for (const Summary::Finding* finding : views.findings) {
            table.Row({std::to_string(finding->Runs.size()), finding->Line, finding->ActionBy,
                       finding->Rule, views.RunNames(finding->Runs, ", ")});
        }
    }
    const std::pair<const char*, const std::vector<Summary::Group>*> groupings[] = {
        {"By who is asked to act", &views.owners}, {"By rule", &views.rules}};
    for (const auto& [title, groups] : groupings) {
        HtmlTable table(page, title, {"Group", "Findings", "Runs"});
        for (const Summary::Group& group : *groups) {
            table.Row({GroupName(group.Name, "(no rule)"), std::to_string(group.Members.size()),
                       std::to_string(group.Occurrences)});
        }
    }
    {
        HtmlTable table(page, "Machines", {"Runs", "Configuration", "Captures"});
        for (const Summary::Group& machine : views.machines) {
            table.Row({std::to_string(machine.Members.size()), machine.Name,
                       views.RunNames(machine.Members, ", ")});
        }
    }
    {
        HtmlTable table(page, "Runs that stopped", {"Run", "Stop"});
        for (const Summary::Run* run : views.stopped) {
            table.Row({run->Name, run->Stop});
        }
    }
    page += "<script>";
    page += PageScript;
    page += "</script>\n</body></html>\n";
    return page;
}

}  // namespace

std::string FormatSummary(const Summary& summary, SummaryFormat format)
{
    const Views views{summary};
    switch (format) {
    case SummaryFormat::Markdown:
        return MarkdownForm(views);
    case SummaryFormat::Json:
        return JsonForm(views);
    case SummaryFormat::Html:
        return HtmlForm(views);
    case SummaryFormat::Text:
        break;
    }
    return TextForm(views);
}

}  // namespace dormex
