#include "lab/Show.h"

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <set>
#include <utility>

#include <nlohmann/json.hpp>

#include "analysis/Findings.h"
#include "common/Text.h"
#include "lab/Library.h"
#include "lab/Summary.h"
#include "report/Html.h"

namespace dormex {

namespace {

using Json = nlohmann::ordered_json;

// Owner keys begin with this for the BIOS, so that it sorts first and stays
// apart from a driver provider that calls itself so.
constexpr std::string_view BiosKey = "\x01";

// The owner of a driver vendor's finding whose provider is not known.
constexpr std::string_view NoProviderOwner = "Driver vendor";

// A value of a results file is shown at most this long, so that a hostile
// file cannot make one finding outgrow a packet (MakePackets cuts a finding
// that still would).
constexpr size_t ValueLimit = 1000;

std::string Clip(std::string text)
{
    // One line each, with nothing a terminal would act on.
    std::replace_if(
        text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
    if (text.size() > ValueLimit) {
        size_t cut = ValueLimit;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
            --cut;  // not inside a UTF-8 sequence
        }
        text.resize(cut);
        text += "...";
    }
    return text;
}

std::string TextOf(const Json& value)
{
    if (value.is_string()) {
        return Clip(value.get<std::string>());
    }
    return value.is_null() ? "" : Clip(value.dump());
}

std::string Member(const Json& object, const char* name)
{
    return object.is_object() && object.contains(name) ? TextOf(object[name]) : "";
}

std::string Plural(size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// What the people asked to act change, by kind.
constexpr std::array<std::string_view, ErrorTypeNames.size()> Remedies = {
    "Have the driver register the device with the Windows Power Framework (PoFx), or have the "
    "BIOS drop the constraint if the device is not meant to be constrained.",
    "Add a constraint for this device class to the PEP's device list in the BIOS.",
    "Change the constraint's D-states and F-states in the BIOS to the expected ones.",
    "Add the constraint the rule asks for to the PEP's device list in the BIOS.",
    "Remove the device's constraint from the PEP device's ASL scope.",
    "Confirm with the storage driver's vendor which constraint the storage cache needs, and add "
    "it.",
    "Mend the device's yellow bang in Device Manager: install the vendor's current driver, or "
    "have the vendor fix it.",
    "Remove the PCI device's constraint from the PEP device's ASL scope.",
};

struct Detail {
    std::string Label;
    std::string Value;
    bool Code = false;  // an id or a pattern, shown as code
};

// One finding as the people who act on it read it.
struct Item {
    std::string Owner;      // "BIOS", or the driver's provider
    std::string OwnerKey;   // the BIOS apart from a provider of that name
    std::string Device;     // the device manager's name, else the device id
    std::string DeviceKey;  // the instance path, else the device id: one device
    std::string DeviceId;   // as the report names the device: "\_SB.PC00.XHCI"
    std::string Class;
    std::string Kind;
    std::vector<Detail> Details;
    std::string Change;

    // "\_SB.PC00.XHCI (lowPowerIo): PowerStateMismatch", the id and the words
    // each in their own form.
    using Form = std::function<std::string(const std::string&)>;
    std::string Headline(const Form& id, const Form& words) const
    {
        std::string text = DeviceId.empty() ? words(Class)
                           : Class.empty()  ? id(DeviceId)
                                            : id(DeviceId) + " (" + words(Class) + ")";
        return text + (text.empty() ? "" : ": ") + words(Kind);
    }
};

std::string Same(const std::string& text)
{
    return text;
}

std::string MarkdownId(const std::string& text)
{
    return MarkdownCode(text);
}

std::string MarkdownWords(const std::string& text)
{
    return MarkdownText(text);
}

// Entries shown of a finding's states: a run has a few LPIT states.
constexpr size_t MaxStates = 16;

std::string States(const Json& states, size_t index)
{
    if (!states.is_array() || index >= states.size() || !states[index].is_object()) {
        return "not declared";
    }
    const Json& state = states[index];
    const std::string f = Member(state, "F");
    return "D" + Member(state, "D") + "/F" + (f.empty() ? "-" : f);
}

Item MakeItem(const Json& finding, const RunRecord& run)
{
    Item item;
    const Json& info = finding.contains("deviceInfo") ? finding["deviceInfo"] : Json();
    const std::string actionBy = Member(finding, "actionBy");
    const std::string provider = Member(info, "driverProvider");
    item.Owner = actionBy == "BIOS"  ? "BIOS"
                 : !provider.empty() ? provider
                 : info.is_object()  ? std::string(NoProviderOwner) + " (provider unknown)"
                                     : std::string(NoProviderOwner) + " (no device)";
    item.OwnerKey = std::string(actionBy == "BIOS" ? BiosKey : "\x02") + item.Owner;
    item.DeviceId = Member(finding, "device");
    const std::string instancePath = Member(info, "instancePath");
    item.DeviceKey = instancePath.empty() ? item.DeviceId : instancePath;
    const std::string name = Member(info, "name");
    item.Device = !name.empty() ? name : !item.DeviceId.empty() ? item.DeviceId : "(no device)";
    item.Kind = Member(finding, "kindName");
    item.Class = Member(finding, "class");
    const std::string& cls = item.Class;

    auto add = [&](const char* label, std::string value, bool code = false) {
        if (!value.empty()) {
            item.Details.push_back({label, std::move(value), code});
        }
    };
    const Json& expected = finding.contains("expected") ? finding["expected"] : Json();
    const Json& actual = finding.contains("actual") ? finding["actual"] : Json();
    const size_t entries =
        std::max(expected.is_array() ? expected.size() : 0, actual.is_array() ? actual.size() : 0);
    for (size_t i = 0; i < entries && i < MaxStates; ++i) {
        std::string label = "LPIT state " + std::to_string(i);
        if (i < run.LpitStates.size() && run.LpitStates[i] != "Unknown") {
            label += " (unique id " + Clip(run.LpitStates[i]) + ")";
        }
        add(label.c_str(), "expected " + (expected.is_array() ? States(expected, i) : "(no rule)") +
                               ", actual " +
                               (actual.is_array() ? States(actual, i) : "no constraint"));
    }
    if (finding.contains("problemCode")) {
        const Json& code = finding["problemCode"];
        const std::string_view text =
            code.is_number_integer() ? ProblemCodeText(code.get<int64_t>()) : std::string_view();
        add("Problem code", TextOf(code) + (text.empty() ? "" : " (" + std::string(text) + ")"));
    }
    const Json& rule = finding.contains("rule") ? finding["rule"] : Json();
    if (rule.is_object()) {
        add("Rule", "class " + (cls.empty() ? "(none)" : cls) + ", service " +
                        Member(rule, "serviceName") + ", pattern /" + Member(rule, "regex") +
                        "/, " + Member(rule, "type"));
    }
    add("Instance path", Member(info, "instancePath"), true);
    add("Hardware id", Member(info, "hardwareId"), true);
    std::string driver = provider;
    for (const auto& [part, word] : {std::pair{"driverVersion", "version "}, {"infName", ""}}) {
        const std::string value = Member(info, part);
        if (!value.empty()) {
            driver += (driver.empty() ? "" : ", ") + (word + value);
        }
    }
    add("Driver", driver);
    add("Location path", Member(info, "locationPath"), true);
    const Json& kind = finding.contains("kind") ? finding["kind"] : Json();
    const int64_t number = kind.is_number_integer() ? kind.get<int64_t>() : -1;
    item.Change = number >= 0 && static_cast<size_t>(number) < Remedies.size()
                      ? std::string(Remedies[static_cast<size_t>(number)])
                      : "";
    return item;
}

struct Group {
    std::string Key;
    std::string Name;
    std::vector<const Item*> Items;  // every finding of the group, subgroups' too
    std::vector<Group> Subgroups;
};

std::string Item::*KeyOf(ShowGrouping grouping)
{
    switch (grouping) {
    case ShowGrouping::Device:
        return &Item::DeviceKey;
    case ShowGrouping::Kind:
        return &Item::Kind;
    case ShowGrouping::Owner:
        break;
    }
    return &Item::OwnerKey;
}

std::string Item::*NameOf(ShowGrouping grouping)
{
    switch (grouping) {
    case ShowGrouping::Device:
        return &Item::Device;
    case ShowGrouping::Kind:
        return &Item::Kind;
    case ShowGrouping::Owner:
        break;
    }
    return &Item::Owner;
}

// The items by one of their names: devices in natural order, the BIOS before
// the other owners, else the largest groups first. Each group holds its items
// by device in natural order, then in the run's order.
std::vector<Group> GroupBy(const std::vector<const Item*>& items, ShowGrouping grouping)
{
    std::string Item::*key = KeyOf(grouping);
    std::map<std::string, std::vector<const Item*>> byKey;
    for (const Item* item : items) {
        byKey[item->*key].push_back(item);
    }
    std::vector<Group> groups;
    std::map<std::string, size_t> names;  // how many groups show each name
    for (auto& [key, members] : byKey) {
        std::stable_sort(members.begin(), members.end(), [](const Item* a, const Item* b) {
            return NaturalLess(a->Device, b->Device);
        });
        const std::string& name = members.front()->*NameOf(grouping);
        ++names[name];
        groups.push_back({key, name, std::move(members), {}});
    }
    for (Group& group : groups) {
        if (grouping == ShowGrouping::Device && names[group.Name] > 1) {
            group.Name += ", " + group.Key;  // two devices of one name
        }
    }
    std::stable_sort(groups.begin(), groups.end(), [&](const Group& a, const Group& b) {
        if (grouping == ShowGrouping::Device) {
            return NaturalLess(a.Name, b.Name);
        }
        const bool biosFirst = a.Key.starts_with(BiosKey);
        if (grouping == ShowGrouping::Owner && biosFirst != b.Key.starts_with(BiosKey)) {
            return biosFirst;
        }
        return a.Items.size() > b.Items.size();
    });
    return groups;
}

// The groups of a run's findings, those by owner and by kind divided by the
// other, so that a machine with a thousand findings stays a few headings.
std::vector<Group> Grouped(const std::vector<Item>& items, ShowGrouping grouping)
{
    std::vector<const Item*> all;
    for (const Item& item : items) {
        all.push_back(&item);
    }
    std::vector<Group> groups = GroupBy(all, grouping);
    if (grouping != ShowGrouping::Device) {
        for (Group& group : groups) {
            group.Subgroups =
                GroupBy(group.Items,
                        grouping == ShowGrouping::Owner ? ShowGrouping::Kind : ShowGrouping::Owner);
        }
    }
    return groups;
}

const std::vector<const Item*> NoItems;

// "BIOS (5)"
std::string Titled(const Group& group)
{
    return group.Name + " (" + std::to_string(group.Items.size()) + ")";
}

// Each group and then its subgroups, in order, with their depth.
void EachGroup(const std::vector<Group>& groups, size_t depth,
               const std::function<void(const Group&, size_t)>& visit)
{
    for (const Group& group : groups) {
        visit(group, depth);
        EachGroup(group.Subgroups, depth + 1, visit);
    }
}

// What the page's head says: the run, then its counts.
struct Overview {
    std::vector<std::pair<std::string, std::string>> Facts;
    // "10 findings", then by owner and by kind; or why there are none.
    std::vector<std::string> Counts;
};

Overview MakeOverview(const RunRecord& run, const std::vector<Item>& items)
{
    Overview overview;
    overview.Facts = {
        {"Machine", run.Manufacturer == "Unknown" && run.ProductName == "Unknown"
                        ? "Unknown"
                        : run.Manufacturer + " " + run.ProductName},
        {"Processor", run.Processor},
        {"BIOS", run.BiosVendor + " " + run.BiosVersion},
        {"OS build", run.OsBuild},
        {"Rule file", run.RuleFile.empty() ? "none" : run.RuleFile},
        {"Run time", run.Time},
        {"Capture", run.Capture},
    };
    for (auto& fact : overview.Facts) {
        fact.second = Clip(fact.second);
    }
    if (run.Stop) {
        overview.Counts = {"The run stopped before its report (" + Clip(*run.Stop) +
                           "), so it has no findings."};
        return overview;
    }
    overview.Counts = {Plural(items.size(), "finding", "findings")};
    for (ShowGrouping grouping : {ShowGrouping::Owner, ShowGrouping::Kind}) {
        std::string line = grouping == ShowGrouping::Owner ? "By owner: " : "By kind: ";
        const char* separator = "";
        for (const Group& group : Grouped(items, grouping)) {
            line += separator + group.Name + " " + std::to_string(group.Items.size());
            separator = ", ";
        }
        if (!items.empty()) {
            overview.Counts.push_back(line);
        }
    }
    return overview;
}

std::string TextForm(const Overview& overview, const std::vector<Group>& groups)
{
    std::string text = "Dormex run\n";
    for (const auto& [label, value] : overview.Facts) {
        text += "  " + label + ": " + value + "\n";
    }
    text += "\n";
    for (const std::string& line : overview.Counts) {
        text += line + "\n";
    }
    EachGroup(groups, 0, [&](const Group& group, size_t depth) {
        const std::string mark = depth == 0 ? "==" : "--";
        text += "\n" + mark + " " + Titled(group) + " " + mark + "\n";
        for (const Item* item : group.Subgroups.empty() ? group.Items : NoItems) {
            text += "\n" + item->Device + "\n  " + item->Headline(Same, Same) + "\n";
            for (const Detail& detail : item->Details) {
                text += "    " + detail.Label + ": " + detail.Value + "\n";
            }
            if (!item->Change.empty()) {
                text += "    To change: " + item->Change + "\n";
            }
        }
    });
    return text;
}

// One finding as a Markdown section: a heading and a list.
std::string MarkdownItem(const Item& item, const std::string& heading)
{
    std::string text = heading + MarkdownText(item.Device) + ": " + MarkdownText(item.Kind) +
                       "\n\n- " + item.Headline(MarkdownId, MarkdownWords) + "\n";
    for (const Detail& detail : item.Details) {
        text += "- " + MarkdownText(detail.Label) + ": " +
                (detail.Code ? MarkdownCode(detail.Value) : MarkdownText(detail.Value)) + "\n";
    }
    if (!item.Change.empty()) {
        text += "- **To change:** " + MarkdownText(item.Change) + "\n";
    }
    return text + "\n";
}

std::string MarkdownFacts(const Overview& overview)
{
    std::string text = "| | |\n|---|---|\n";
    for (const auto& [label, value] : overview.Facts) {
        text += "| " + label + " | " + MarkdownText(value) + " |\n";
    }
    return text;
}

std::string MarkdownForm(const Overview& overview, const std::vector<Group>& groups)
{
    std::string text = "# Dormex run\n\n" + MarkdownFacts(overview) + "\n";
    for (const std::string& line : overview.Counts) {
        text += "**" + MarkdownText(line) + "**  \n";
    }
    EachGroup(groups, 0, [&](const Group& group, size_t depth) {
        text += (text.ends_with("\n\n") ? "" : "\n") + std::string(depth + 2, '#') + " " +
                MarkdownText(Titled(group)) + "\n\n";
        for (const Item* item : group.Subgroups.empty() ? group.Items : NoItems) {
            text += MarkdownItem(*item, std::string(depth + 3, '#') + " ");
        }
    });
    return text;
}

Json ItemJson(const Item& item)
{
    Json details = Json::array();
    for (const Detail& detail : item.Details) {
        details.push_back({{"label", detail.Label}, {"value", detail.Value}});
    }
    return {{"owner", item.Owner},  {"device", item.Device}, {"deviceId", item.DeviceId},
            {"class", item.Class},  {"kind", item.Kind},     {"details", details},
            {"change", item.Change}};
}

// Groups with their subgroups, or at the last level their findings.
Json GroupsJson(const std::vector<Group>& groups)
{
    Json list = Json::array();
    for (const Group& group : groups) {
        Json members = Json::array();
        for (const Item* item : group.Subgroups.empty() ? group.Items : NoItems) {
            members.push_back(ItemJson(*item));
        }
        list.push_back({{"name", group.Name},
                        {"count", group.Items.size()},
                        {group.Subgroups.empty() ? "findings" : "groups",
                         group.Subgroups.empty() ? members : GroupsJson(group.Subgroups)}});
    }
    return list;
}

std::string JsonForm(const Overview& overview, const std::vector<Group>& groups)
{
    Json run = Json::object();
    for (const auto& [label, value] : overview.Facts) {
        run[label] = value;
    }
    const Json list = GroupsJson(groups);
    const Json document = {{"format", "dormex-lab-show/1"},
                           {"run", run},
                           {"counts", overview.Counts},
                           {"groups", list}};
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

constexpr const char* PageStyle =
    R"(body{font-family:Segoe UI,Arial,sans-serif;margin:24px;color:#1b1b1b;max-width:1400px}
h1{font-size:22px}table.facts td{padding:2px 12px 2px 0;vertical-align:top;word-break:break-word}
table.facts td:first-child{font-weight:600;white-space:nowrap}
#counts{font-weight:600}#search{font-size:14px;padding:6px;width:40em;max-width:100%;margin:8px 0}
button.toggle{display:block;width:100%;text-align:left;font:inherit;font-size:16px;font-weight:600;
background:#eef1f5;border:1px solid #c8c8c8;padding:6px 10px;margin-top:8px;cursor:pointer}
button.toggle::before{content:"\25B6  "}.open>button.toggle::before{content:"\25BC  "}
.group>.body{display:none;padding:0 0 0 14px}.level1>button.toggle{font-size:15px;background:#f6f7f9}.group.open>.body{display:block}
.finding{border-bottom:1px solid #e2e2e2;padding:8px 0;break-inside:avoid}
.finding h3{font-size:15px;margin:0 0 4px}.finding p{margin:2px 0;font-family:Consolas,monospace;
font-size:13px;word-break:break-word}.finding dl{margin:4px 0;display:grid;grid-template-columns:max-content 1fr;
gap:2px 12px;font-size:13px}.finding dt{font-weight:600}.finding dd{margin:0;word-break:break-word}
.change{background:#fff7e0;padding:4px 6px;font-size:13px}
@media print{#search,button.toggle::before{display:none}.group>.body{display:block!important}
.finding{display:block!important}.group{display:block!important}button.toggle{border:none;background:none;padding:0}})";

// A heading opens or folds its group; typing in the box keeps the findings
// that hold the text and opens the groups that have any.
constexpr const char* PageScript =
    R"(document.querySelectorAll('button.toggle').forEach(function (button) {
  button.addEventListener('click', function () {
    var open = button.parentNode.classList.toggle('open');
    button.setAttribute('aria-expanded', open ? 'true' : 'false');
  });
});
document.getElementById('search').addEventListener('input', function (event) {
  var words = event.target.value.toLowerCase();
  document.querySelectorAll('.group').forEach(function (group) {
    var shown = 0;
    group.querySelectorAll('.finding').forEach(function (finding) {
      var keep = words === '' || finding.textContent.toLowerCase().indexOf(words) >= 0;
      finding.hidden = !keep;
      shown += keep ? 1 : 0;
    });
    group.hidden = shown === 0;
    var open = group.classList.toggle('open', words !== '' && shown > 0);
    group.querySelector('button').setAttribute('aria-expanded', open ? 'true' : 'false');
  });
});)";

std::string HtmlForm(const Overview& overview, const std::vector<Group>& groups)
{
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width\"><title>Dormex run: " +
        HtmlEscape(overview.Facts.front().second) + "</title><style>" + PageStyle +
        "</style></head><body>\n<h1>Dormex run</h1>\n<table class=\"facts\">";
    for (const auto& [label, value] : overview.Facts) {
        page += "<tr><td>" + label + "</td><td>" + HtmlEscape(value) + "</td></tr>";
    }
    page += "</table>\n<p id=\"counts\">";
    for (const std::string& line : overview.Counts) {
        page += HtmlEscape(line) + "<br>";
    }
    page +=
        "</p>\n<input id=\"search\" type=\"search\" placeholder=\"Find a device, a kind, a "
        "hardware id...\" aria-label=\"Find\">\n";
    std::vector<size_t> open;  // the depths of the sections not yet closed
    EachGroup(groups, 0, [&](const Group& group, size_t depth) {
        for (; !open.empty() && open.back() >= depth; open.pop_back()) {
            page += "</div></section>\n";
        }
        open.push_back(depth);
        page += "<section class=\"group level" + std::to_string(depth) +
                "\"><button class=\"toggle\" aria-expanded=\"false\">" + HtmlEscape(Titled(group)) +
                "</button><div class=\"body\">\n";
        for (const Item* item : group.Subgroups.empty() ? group.Items : NoItems) {
            page += "<div class=\"finding\"><h3>" + HtmlEscape(item->Device) + "</h3><p>" +
                    HtmlEscape(item->Headline(Same, Same)) + "</p><dl>";
            for (const Detail& detail : item->Details) {
                page += "<dt>" + HtmlEscape(detail.Label) + "</dt><dd>" + HtmlEscape(detail.Value) +
                        "</dd>";
            }
            page += "</dl>";
            if (!item->Change.empty()) {
                page += "<div class=\"change\">To change: " + HtmlEscape(item->Change) + "</div>";
            }
            page += "</div>\n";
        }
    });
    for (; !open.empty(); open.pop_back()) {
        page += "</div></section>\n";
    }
    return page + "<script>" + PageScript + "</script>\n</body></html>\n";
}

std::vector<Item> MakeItems(const RunRecord& run)
{
    std::vector<Item> items;
    items.reserve(run.Findings.size());
    for (const ComparedFinding& finding : run.Findings) {
        items.push_back(MakeItem(finding.Finding, run));
    }
    return items;
}

// A file name part of an owner: letters and digits kept, runs of anything
// else one '-'.
std::string FileNamePart(const std::string& owner)
{
    std::string part;
    for (char c : owner) {
        const bool keep =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (keep) {
            part += c;
        } else if (!part.empty() && part.back() != '-') {
            part += '-';
        }
        if (part.size() >= 60) {
            break;
        }
    }
    while (!part.empty() && part.back() == '-') {
        part.pop_back();
    }
    return part.empty() ? "unnamed" : part;
}

std::string PacketHead(const RunRecord& run, const Overview& overview, const std::string& owner,
                       size_t findings, size_t file, size_t files)
{
    std::string text = "# Low-power idle findings for " + MarkdownText(owner) + " on " +
                       MarkdownText(overview.Facts.front().second);
    if (files > 1) {
        text += " (file " + std::to_string(file) + " of " + std::to_string(files) + ")";
    }
    text += "\n\n" + MarkdownFacts(overview) + "\n" + Plural(findings, "finding", "findings") +
            (files > 1 ? " in this file" : "") + ". Attach the capture (" +
            MarkdownText(Clip(run.Capture)) +
            ") and its results file, so that the run can be replayed with any rule file.\n\n";
    return text;
}

}  // namespace

std::optional<ShowFormat> ParseShowFormat(std::string_view name)
{
    const std::pair<std::string_view, ShowFormat> names[] = {{"text", ShowFormat::Text},
                                                             {"markdown", ShowFormat::Markdown},
                                                             {"json", ShowFormat::Json},
                                                             {"html", ShowFormat::Html}};
    for (const auto& [text, format] : names) {
        if (name == text) {
            return format;
        }
    }
    return std::nullopt;
}

std::optional<ShowGrouping> ParseShowGrouping(std::string_view name)
{
    if (name == "owner") {
        return ShowGrouping::Owner;
    }
    if (name == "device") {
        return ShowGrouping::Device;
    }
    return name == "kind" ? std::optional(ShowGrouping::Kind) : std::nullopt;
}

std::string FormatShow(const RunRecord& run, ShowFormat format, ShowGrouping grouping)
{
    const std::vector<Item> items = MakeItems(run);
    const Overview overview = MakeOverview(run, items);
    const std::vector<Group> groups = Grouped(items, grouping);
    switch (format) {
    case ShowFormat::Markdown:
        return MarkdownForm(overview, groups);
    case ShowFormat::Json:
        return JsonForm(overview, groups);
    case ShowFormat::Html:
        return HtmlForm(overview, groups);
    case ShowFormat::Text:
        break;
    }
    return TextForm(overview, groups);
}

std::vector<Packet> MakePackets(const RunRecord& run)
{
    const std::vector<Item> items = MakeItems(run);
    const Overview overview = MakeOverview(run, items);
    std::vector<Packet> packets;
    std::set<std::string> taken;  // file names, lower-cased
    for (const Group& group : Grouped(items, ShowGrouping::Owner)) {
        // The findings as sections, then files that each stay under the limit
        // with the longest head a file can have.
        const size_t room = TrackerCommentLimit - 1 -
                            PacketHead(run, overview, group.Name, 99999, 99999, 99999).size();
        std::vector<const Item*> ordered;  // by kind, then by device
        for (const Group& kind : group.Subgroups) {
            ordered.insert(ordered.end(), kind.Items.begin(), kind.Items.end());
        }
        std::vector<std::pair<std::string, size_t>> parts;  // text, findings
        for (size_t i = 0; i < ordered.size(); ++i) {
            std::string section = MarkdownItem(*ordered[i], "## " + std::to_string(i + 1) + ". ");
            if (section.size() > room) {
                constexpr std::string_view Cut = "\n\n_The rest of this finding is left out._\n\n";
                size_t end = room - Cut.size();
                while (end > 0 && (static_cast<unsigned char>(section[end]) & 0xC0) == 0x80) {
                    --end;  // not inside a UTF-8 sequence
                }
                section.resize(end);
                section += Cut;
            }
            if (parts.empty() || parts.back().first.size() + section.size() > room) {
                parts.emplace_back();
            }
            parts.back().first += section;
            ++parts.back().second;
        }
        const std::string base = group.Key.starts_with(BiosKey) ? "BIOS"
                                 : group.Name.starts_with(NoProviderOwner)
                                     ? FileNamePart(AsciiLower(group.Name))
                                     : "driver-" + FileNamePart(group.Name);
        // The files of one owner, "-2" after the name when another owner's
        // name makes one of the same (they differ only in what a file name
        // drops, or in case).
        std::vector<std::string> names;
        for (size_t n = 1; names.empty(); ++n) {
            const std::string name = n == 1 ? base : base + "-" + std::to_string(n);
            for (size_t p = 0; p < parts.size(); ++p) {
                names.push_back(parts.size() == 1 ? name + ".md"
                                                  : name + "-" + std::to_string(p + 1) + "-of-" +
                                                        std::to_string(parts.size()) + ".md");
            }
            if (std::any_of(names.begin(), names.end(), [&](const std::string& file) {
                    return taken.contains(AsciiLower(file));
                })) {
                names.clear();
            }
        }
        for (size_t p = 0; p < parts.size(); ++p) {
            taken.insert(AsciiLower(names[p]));
            Packet packet;
            packet.Owner = group.Name;
            packet.FileName = names[p];
            packet.Text =
                PacketHead(run, overview, group.Name, parts[p].second, p + 1, parts.size()) +
                parts[p].first;
            packet.Findings = parts[p].second;
            packets.push_back(std::move(packet));
        }
    }
    return packets;
}

std::string_view ProblemCodeText(int64_t code)
{
    static constexpr std::pair<int64_t, std::string_view> Texts[] = {
        {1, "This device is not configured correctly."},
        {3,
         "The driver for this device might be corrupted, or the system may be running low on "
         "memory or other resources."},
        {9,
         "Windows cannot identify this hardware because it does not have a valid hardware "
         "identification number."},
        {10, "This device cannot start."},
        {12, "This device cannot find enough free resources that it can use."},
        {14, "This device cannot work properly until you restart your computer."},
        {16, "Windows cannot identify all the resources this device uses."},
        {18, "Reinstall the drivers for this device."},
        {19,
         "Windows cannot start this hardware device because its configuration information "
         "(in the registry) is incomplete or damaged."},
        {21, "Windows is removing this device."},
        {22, "This device is disabled."},
        {24,
         "This device is not present, is not working properly, or does not have all its "
         "drivers installed."},
        {28, "The drivers for this device are not installed."},
        {29,
         "This device is disabled because the firmware of the device did not give it the "
         "required resources."},
        {31,
         "This device is not working properly because Windows cannot load the drivers "
         "required for this device."},
        {32, "A driver (service) for this device has been disabled."},
        {33, "Windows cannot determine which resources are required for this device."},
        {34, "Windows cannot determine the settings for this device."},
        {35,
         "The computer's system firmware does not include enough information to properly "
         "configure and use this device."},
        {36,
         "This device is requesting a PCI interrupt but is configured for an ISA interrupt "
         "(or vice versa)."},
        {37, "Windows cannot initialize the device driver for this hardware."},
        {38,
         "Windows cannot load the device driver for this hardware because a previous "
         "instance of the device driver is still in memory."},
        {39,
         "Windows cannot load the device driver for this hardware. The driver may be "
         "corrupted or missing."},
        {40,
         "Windows cannot access this hardware because its service key information in the "
         "registry is missing or recorded incorrectly."},
        {41,
         "Windows successfully loaded the device driver for this hardware but cannot find "
         "the hardware device."},
        {42,
         "Windows cannot load the device driver for this hardware because there is a "
         "duplicate device already running in the system."},
        {43, "Windows has stopped this device because it has reported problems."},
        {44, "An application or service has shut down this hardware device."},
        {45, "Currently, this hardware device is not connected to the computer."},
        {46,
         "Windows cannot gain access to this hardware device because the operating system "
         "is in the process of shutting down."},
        {47,
         "Windows cannot use this hardware device because it has been prepared for safe "
         "removal, but it has not been removed from the computer."},
        {48,
         "The software for this device has been blocked from starting because it is known "
         "to have problems with Windows."},
        {49, "Windows cannot start new hardware devices because the system hive is too large."},
        {50, "Windows cannot apply all of the properties for this device."},
        {51, "This device is currently waiting on another device or set of devices to start."},
        {52,
         "Windows cannot verify the digital signature for the drivers required for this "
         "device."},
        {53,
         "This device has been reserved for use by the Windows kernel debugger for the "
         "duration of this boot session."},
        {54, "This device has failed and is undergoing a reset."},
    };
    for (const auto& [number, text] : Texts) {
        if (number == code) {
            return text;
        }
    }
    return {};
}

}  // namespace dormex
