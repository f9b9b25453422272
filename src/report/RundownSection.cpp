#include "report/RundownSection.h"

#include <ostream>
#include <unordered_map>

#include "report/Html.h"
#include "report/HtmlFragments.h"
#include "trace/RundownLists.h"

namespace dormex {

namespace {

void WriteHeader(std::ostream& out, std::initializer_list<const char*> titles)
{
    out << "<tr>";
    for (const char* title : titles) {
        out << "<th class=\"header\">" << title << "</th>";
    }
    out << "</tr>";
}

void WriteDataCell(std::ostream& out, const std::string& value)
{
    out << html::DataCell << HtmlEscape(value) << "</td>";
}

void WriteEmptyListHeading(std::ostream& out, const char* text)
{
    out << "<h3>" << text << "</h3>";
}

void WritePepDeviceTable(std::ostream& out, const RundownLists& rundowns)
{
    if (rundowns.PepDeviceRundownList.empty()) {
        WriteEmptyListHeading(out, "No Pep Rundowns Availible.");
        return;
    }
    // The first component with a device's handle supplies its F-states.
    std::unordered_map<std::string, const PepComponentRundown*> components;
    for (const PepComponentRundown& component : rundowns.PepComponentRundownList) {
        components.emplace(component.DeviceId, &component);
    }
    WriteHeader(out, {"Handle", "AcpiName", "D-state/F-state Dependency"});
    for (const PepDeviceRundown& device : rundowns.PepDeviceRundownList) {
        out << "<tr>";
        WriteDataCell(out, device.DeviceId);
        WriteDataCell(out, device.DeviceName);
        auto found = components.find(device.DeviceId);
        const PepComponentRundown* component = found != components.end() ? found->second : nullptr;
        out << html::DataCell << "[";
        for (uint32_t j = 0; component != nullptr && j < device.PlatformStateDependencyCount &&
                             j < device.PowerStates.size();
             ++j) {
            out << "[D:" << device.PowerStates[j] << ", F:" << component->PowerStates[j] << "]";
        }
        out << "]</td>";  // the row stays open: the next row or the table end closes it
    }
}

// A table of two data cells a record, or the heading for an empty list.
template <typename Record, typename Cells>
void WriteTwoCellTable(std::ostream& out, const std::deque<Record>& records, const char* emptyText,
                       std::initializer_list<const char*> titles, Cells cells)
{
    if (records.empty()) {
        WriteEmptyListHeading(out, emptyText);
        return;
    }
    WriteHeader(out, titles);
    for (const Record& record : records) {
        auto [first, second] = cells(record);
        out << "<tr>";
        WriteDataCell(out, first);
        WriteDataCell(out, second);
        out << "</tr>";
    }
}

void WritePoFxDeviceTable(std::ostream& out, const RundownLists& rundowns)
{
    WriteTwoCellTable(out, rundowns.PoFxRundownList, "No PoFx Rundowns Availible.",
                      {"DeviceId", "Service Name"}, [](const PoFxDeviceRundown& device) {
                          return std::pair<const std::string&, const std::string&>(
                              device.DeviceId, device.ServiceName);
                      });
}

// Its first column, headed "Service Name", shows the friendly name.
void WriteOsDeviceTable(std::ostream& out, const RundownLists& rundowns)
{
    WriteTwoCellTable(out, rundowns.PoDeviceList, "No Po Rundowns Availible.",
                      {"Service Name", "Instance Path"}, [](const PoDeviceEntry& device) {
                          return std::pair<const std::string&, const std::string&>(
                              device.FriendlyName, device.InstancePath);
                      });
}

void WriteHeading(std::ostream& out, std::string_view h3, std::string_view h4)
{
    out << "<h3>" << h3 << "</h3>";
    if (!h4.empty()) {
        out << "<h4>" << h4 << "</h4>";
    }
}

}  // namespace

void WriteRundownSection(std::ostream& out, const RundownLists& rundowns)
{
    out << "<div class=\"rundowns\">";
    WriteHeading(out, "PEP Device List",
                 "This list contains the device and device states enumerated by the platform "
                 "needed to achieve the lowest platform power state.");
    out << "<table>";
    WritePepDeviceTable(out, rundowns);
    out << "</table>";
    WriteHeading(out, "PoFx Device List",
                 "This list contains the device drivers on the platform that support the "
                 "Microsoft PoFx API.");
    out << "<table>";
    WritePoFxDeviceTable(out, rundowns);
    out << "</table>";
    WriteHeading(out, "OS Device List", "");
    out << "<table>";
    WriteOsDeviceTable(out, rundowns);
    out << "</table></div>";
}

}  // namespace dormex
