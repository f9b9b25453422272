#include "report/RundownSection.h"

#include <unordered_map>

#include "report/Html.h"
#include "report/HtmlFragments.h"
#include "trace/RundownLists.h"

namespace dormex {

namespace {

void AppendHeader(std::string& html, std::initializer_list<const char*> titles)
{
    html += "<tr>";
    for (const char* title : titles) {
        html += "<th class=\"header\">";
        html += title;
        html += "</th>";
    }
    html += "</tr>";
}

void AppendDataCell(std::string& html, const std::string& value)
{
    html += html::DataCell;
    html += HtmlEscape(value);
    html += "</td>";
}

std::string EmptyListHeading(const char* text)
{
    return std::string("<h3>") + text + "</h3>";
}

std::string PepDeviceTable(const RundownLists& rundowns)
{
    if (rundowns.PepDeviceRundownList.empty()) {
        return EmptyListHeading("No Pep Rundowns Availible.");
    }
    // The first component with a device's handle supplies its F-states.
    std::unordered_map<std::string, const PepComponentRundown*> components;
    for (const PepComponentRundown& component : rundowns.PepComponentRundownList) {
        components.emplace(component.DeviceId, &component);
    }
    std::string html;
    AppendHeader(html, {"Handle", "AcpiName", "D-state/F-state Dependency"});
    for (const PepDeviceRundown& device : rundowns.PepDeviceRundownList) {
        html += "<tr>";
        AppendDataCell(html, device.DeviceId);
        AppendDataCell(html, device.DeviceName);
        auto found = components.find(device.DeviceId);
        const PepComponentRundown* component = found != components.end() ? found->second : nullptr;
        html += html::DataCell;
        html += "[";
        for (uint32_t j = 0; component != nullptr && j < device.PlatformStateDependencyCount &&
                             j < device.PowerStates.size();
             ++j) {
            html += "[D:" + std::to_string(device.PowerStates[j]) +
                    ", F:" + std::to_string(component->PowerStates[j]) + "]";
        }
        html += "]</td>";  // the row stays open: the next row or the table end closes it
    }
    return html;
}

// A table of two data cells a record, or the heading for an empty list.
template <typename Record, typename Cells>
std::string TwoCellTable(const std::deque<Record>& records, const char* emptyText,
                         std::initializer_list<const char*> titles, Cells cells)
{
    if (records.empty()) {
        return EmptyListHeading(emptyText);
    }
    std::string html;
    AppendHeader(html, titles);
    for (const Record& record : records) {
        auto [first, second] = cells(record);
        html += "<tr>";
        AppendDataCell(html, first);
        AppendDataCell(html, second);
        html += "</tr>";
    }
    return html;
}

std::string PoFxDeviceTable(const RundownLists& rundowns)
{
    return TwoCellTable(rundowns.PoFxRundownList, "No PoFx Rundowns Availible.",
                        {"DeviceId", "Service Name"}, [](const PoFxDeviceRundown& device) {
                            return std::pair<const std::string&, const std::string&>(
                                device.DeviceId, device.ServiceName);
                        });
}

// Its first column, headed "Service Name", shows the friendly name.
std::string OsDeviceTable(const RundownLists& rundowns)
{
    return TwoCellTable(rundowns.PoDeviceList, "No Po Rundowns Availible.",
                        {"Service Name", "Instance Path"}, [](const PoDeviceEntry& device) {
                            return std::pair<const std::string&, const std::string&>(
                                device.FriendlyName, device.InstancePath);
                        });
}

void AppendTable(std::string& html, const std::string& rows)
{
    html += "<table>";
    html += rows;
    html += "</table>";
}

void AppendHeading(std::string& html, std::string_view h3, std::string_view h4)
{
    html += "<h3>";
    html += h3;
    html += "</h3>";
    if (!h4.empty()) {
        html += "<h4>";
        html += h4;
        html += "</h4>";
    }
}

}  // namespace

std::string BuildRundownSection(const RundownLists& rundowns)
{
    std::string html = "<div class=\"rundowns\">";
    AppendHeading(html, "PEP Device List",
                  "This list contains the device and device states enumerated by the platform "
                  "needed to achieve the lowest platform power state.");
    AppendTable(html, PepDeviceTable(rundowns));
    AppendHeading(html, "PoFx Device List",
                  "This list contains the device drivers on the platform that support the "
                  "Microsoft PoFx API.");
    AppendTable(html, PoFxDeviceTable(rundowns));
    AppendHeading(html, "OS Device List", "");
    AppendTable(html, OsDeviceTable(rundowns));
    html += "</div>";
    return html;
}

}  // namespace dormex
