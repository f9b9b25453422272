#include "devices/DeviceProperties.h"

#include <algorithm>
#include <vector>

#include "common/Bytes.h"
#include "common/Text.h"
#include "log/DebugLog.h"
#include "platform/DevicePropertyKeys.h"
#include "trace/RundownLists.h"

namespace dormex {

namespace {

using P = DeviceProperties;

consteval DevicePropertyRow TextRow(std::string_view name, std::string_view label,
                                    std::string P::*field)
{
    return {DevicePropertyKeyNamed(name), label, PropertyKind::Text, field, nullptr};
}
consteval DevicePropertyRow ListRow(std::string_view name, std::string_view label,
                                    std::string P::*field)
{
    return {DevicePropertyKeyNamed(name), label, PropertyKind::List, field, nullptr};
}
consteval DevicePropertyRow BinaryRow(std::string_view name, std::string_view label,
                                      std::string P::*field)
{
    return {DevicePropertyKeyNamed(name), label, PropertyKind::Binary, field, nullptr};
}
consteval DevicePropertyRow NumberRow(std::string_view name, std::string_view label,
                                      int32_t P::*field)
{
    return {DevicePropertyKeyNamed(name), label, PropertyKind::Number, nullptr, field};
}

// The first size/2 - 1 UTF-16 units (the terminator dropped) as UTF-8, zero
// units kept as zero bytes.
std::string ValueText(const uint8_t* value, uint32_t size)
{
    size_t units = size >= 2 ? size / 2 - 1 : 0;
    return Utf16ToUtf8(DecodeUtf16Le({value, 2 * units}));
}

// Entries each ended by a zero byte, joined with commas.
std::string JoinList(const std::string& entries)
{
    std::string joined;
    size_t start = 0;
    while (start < entries.size()) {
        size_t zero = entries.find('\0', start);
        size_t stop = zero == std::string::npos ? entries.size() : zero;
        if (!joined.empty() || start > 0) {
            joined += ",";
        }
        joined.append(entries, start, stop - start);
        start = stop + 1;
    }
    return joined;
}

}  // namespace

constexpr std::array<DevicePropertyRow, DevicePropertyKeys.size()> DevicePropertyTable = {{
    ListRow("Children", "DEVPKEY_Device_Children", &P::Children),
    TextRow("Class", "Device Class", &P::Class),
    TextRow("BusReportedDeviceDesc", "Bus Reported Device Description", &P::BusReportedDeviceDesc),
    TextRow("DeviceDesc", "DEvice Description", &P::DeviceDesc),
    NumberRow("DevNodeStatus", "Device Node Status", &P::DevNodeStatus),
    TextRow("Driver", "Device Driver", &P::Driver),
    TextRow("DriverDesc", "Driver Description", &P::DriverDesc),
    TextRow("DriverInfPath", "Device Inf Path", &P::DriverInfPath),
    TextRow("DriverInfSection", "Device Inf Section", &P::DriverInfSection),
    TextRow("DriverProvider", "Device Driver Provider", &P::DriverProvider),
    NumberRow("DriverRank", "Driver Rank", &P::DriverRank),
    TextRow("DriverVersion", "Driver Version", &P::DriverVersion),
    TextRow("FriendlyName", "Friendly Name", &P::FriendlyName),
    ListRow("HardwareIds", "Hardware ID", &P::HardwareIds),
    NumberRow("InstallState", "Install State", &P::InstallState),
    TextRow("InstanceId", "Instance ID", &P::InstanceId),
    NumberRow("LegacyBusType", "Legacy Bus Type", &P::LegacyBusType),
    TextRow("LocationInfo", "Location Info", &P::LocationInfo),
    ListRow("LocationPaths", "Location Path", &P::LocationPaths),
    TextRow("Manufacturer", "Device Manufacturer", &P::Manufacturer),
    TextRow("MatchingDeviceId", "DEvice Matching ID", &P::MatchingDeviceId),
    TextRow("Parent", "Device Parent", &P::Parent),
    TextRow("PdoName", "Device PDO Name", &P::PdoName),
    BinaryRow("PowerData", "Device Power Data", &P::PowerData),
    NumberRow("ProblemCode", "Device Problem Code", &P::ProblemCode),
    NumberRow("RemovalPolicy", "Device Removal Policy", &P::RemovalPolicy),
    NumberRow("RemovalPolicyDefault", "Removal Policy Default", &P::RemovalPolicyDefault),
    TextRow("Service", "Device Service", &P::Service),
    ListRow("Siblings", "Device Siblings", &P::Siblings),
}};

// Every key is read, and read once (every row's key is in the key table, or
// the row would not compile).
consteval bool EveryKeyReadOnce()
{
    for (const DevicePropertyKey& key : DevicePropertyKeys) {
        size_t reads = 0;
        for (const DevicePropertyRow& row : DevicePropertyTable) {
            reads += row.Key == key.Key ? 1 : 0;
        }
        if (reads != 1) {
            return false;
        }
    }
    return true;
}
static_assert(EveryKeyReadOnce());

void CollectDeviceProperties(const std::deque<PoDeviceEntry>& poDevices,
                             DevicePropertiesByInstancePath& devices, DebugLog& log,
                             DeviceManager& deviceManager)
{
    if (poDevices.empty()) {
        log.WriteLog(LogLevel::Information, "Po List is Empty.", 0);
        return;
    }
    log.WriteLog(LogLevel::Information, "Device Information Logging Start.", 0);
    for (const PoDeviceEntry& device : poDevices) {
        log.WriteLog(LogLevel::Information, "Information Logged for: " + device.InstancePath, 0);
        DeviceProperties record =
            QueryDeviceProperties(Utf8ToUtf16(device.InstancePath), log, deviceManager);
        // The first record of a path stays.
        devices.try_emplace(device.InstancePath, std::move(record));
    }
    log.WriteLog(LogLevel::Information, "Device Information Logging Complete.", 0);
}

DeviceProperties QueryDeviceProperties(const std::u16string& instancePath, DebugLog& log,
                                       DeviceManager& deviceManager)
{
    DeviceProperties record;
    DevInst devInst = 0;
    if (deviceManager.LocateDevNode(&devInst, instancePath, LocateDevNodeNormal) != CrSuccess) {
        return record;
    }
    std::vector<uint8_t> buffer(DevicePropertyBufferSize);
    for (size_t row = 0; row < DevicePropertyTable.size(); ++row) {
        const DevicePropertyRow& property = DevicePropertyTable[row];
        uint32_t size = 0;
        uint32_t status = CrBufferSmall;
        // A value that grew between two calls asks again: three tries.
        for (int attempt = 0; attempt < 3 && status == CrBufferSmall; ++attempt) {
            if (size > DevicePropertyMaxSize) {
                log.WriteLog(LogLevel::Warning,
                             "Device property left out, larger than " +
                                 std::to_string(DevicePropertyMaxSize) +
                                 " bytes: " + std::string(property.Label) + " (" +
                                 std::to_string(size) + " bytes)",
                             0);
                break;
            }
            buffer.resize(std::max(size, DevicePropertyBufferSize));
            size = static_cast<uint32_t>(buffer.size());
            uint32_t type = 0;
            status = deviceManager.GetDevNodeProperty(devInst, property.Key, &type, buffer.data(),
                                                      &size, 0);
        }
        if (status != CrSuccess) {
            log.WriteLog(LogLevel::Information,
                         "Cannot get information " + std::string(property.Label), 0);
            continue;
        }
        StoreDeviceProperty(record, row, buffer.data(),
                            std::min(size, static_cast<uint32_t>(buffer.size())), log);
    }
    return record;
}

void StoreDeviceProperty(DeviceProperties& record, size_t row, const uint8_t* value, uint32_t size,
                         DebugLog& log)
{
    if (row >= DevicePropertyTable.size()) {
        return;
    }
    const DevicePropertyRow& property = DevicePropertyTable[row];
    std::string logged;
    switch (property.Kind) {
    case PropertyKind::Text: {
        // A zero unit ends the text, so that none reaches the log or the report.
        std::string text = ValueText(value, size);
        record.*property.Text = text.substr(0, text.find('\0'));
        logged = record.*property.Text;
        break;
    }
    case PropertyKind::List:
        record.*property.Text = JoinList(ValueText(value, size));
        logged = record.*property.Text;
        break;
    case PropertyKind::Binary:
        record.*property.Text = BytesAsHex({value, size});
        logged = record.*property.Text;
        break;
    case PropertyKind::Number: {
        record.*property.Number = static_cast<int32_t>(ReadU32({value, size}, 0));
        logged = std::to_string(record.*property.Number);
        break;
    }
    }
    log.WriteLog(LogLevel::Information, "Logged: " + std::string(property.Label) + " : " + logged,
                 0);
}

std::vector<std::string_view> ListEntries(std::string_view list)
{
    std::vector<std::string_view> entries;
    while (!list.empty()) {
        const size_t comma = list.find(',');
        if (comma != 0) {
            entries.push_back(list.substr(0, comma));
        }
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    return entries;
}

std::string AcpiLocationPath(std::string_view acpiName)
{
    if (acpiName.starts_with('\\')) {
        acpiName.remove_prefix(1);
    }
    std::string path;
    while (!acpiName.empty()) {
        const size_t dot = acpiName.find('.');
        const std::string_view segment = acpiName.substr(0, dot);
        const bool valid = !segment.empty() && segment.size() <= 4 &&
                           segment.find_first_not_of(
                               "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "abcdefghijklmnopqrstuvwxyz0123456789_") == std::string_view::npos;
        if (!valid || dot == acpiName.size() - 1) {
            return {};
        }
        path += path.empty() ? "ACPI(" : "#ACPI(";
        path += segment;
        path.append(4 - segment.size(), '_');
        path += ')';
        acpiName = dot == std::string_view::npos ? std::string_view() : acpiName.substr(dot + 1);
    }
    return path;
}

}  // namespace dormex
