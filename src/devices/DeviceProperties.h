#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DevicePropertyKeys.h"

namespace dormex {

class DebugLog;
struct PoDeviceEntry;

// The device-manager properties of one OS power device.
struct DeviceProperties {
    std::string Children;
    std::string Class;
    std::string BusReportedDeviceDesc;
    std::string DeviceDesc;
    int32_t DevNodeStatus = 0;
    std::string Driver;
    std::string DriverDesc;
    std::string DriverInfPath;
    std::string DriverInfSection;
    std::string DriverProvider;
    int32_t DriverRank = 0;
    std::string DriverVersion;
    std::string FriendlyName;
    std::string HardwareIds;
    int32_t InstallState = 0;
    std::string InstanceId;
    int32_t LegacyBusType = 0;
    std::string LocationInfo;
    std::string LocationPaths;
    std::string Manufacturer;
    std::string MatchingDeviceId;
    std::string Parent;
    std::string PdoName;
    std::string PowerData;
    int32_t ProblemCode = 0;
    int32_t RemovalPolicy = 0;
    int32_t RemovalPolicyDefault = 0;
    std::string Service;
    std::string Siblings;
};

// Device records by instance path, ordered byte-wise.
using DevicePropertiesByInstancePath = std::map<std::string, DeviceProperties>;

// Text and lists as UTF-8; a binary structure as lower-case hex, two digits a
// byte.
enum class PropertyKind { Text, List, Binary, Number };

// One row per property, in reading and logging order. Each row's key is
// looked up by the name of the field that holds the value.
struct DevicePropertyRow {
    DevPropKey Key;
    std::string_view Label;
    PropertyKind Kind;
    std::string DeviceProperties::*Text;
    int32_t DeviceProperties::*Number;
};

extern const std::array<DevicePropertyRow, DevicePropertyKeys.size()> DevicePropertyTable;

inline constexpr uint32_t DevicePropertyBufferSize = 8192;
// A value larger than the first buffer is read again with the size the
// Configuration Manager asks for, up to this.
inline constexpr uint32_t DevicePropertyMaxSize = 1024 * 1024;

// The entries of a list property as the record holds it (joined with commas).
std::vector<std::string_view> ListEntries(std::string_view list);

// The location path the device manager gives the device of an ACPI
// namespace path: \_SB.PC00.RP07 -> ACPI(_SB_)#ACPI(PC00)#ACPI(RP07). Empty
// for a name that is not such a path.
std::string AcpiLocationPath(std::string_view acpiName);

// Reads and logs the properties of every OS power device.
void CollectDeviceProperties(const std::deque<PoDeviceEntry>& poDevices,
                             DevicePropertiesByInstancePath& devices, DebugLog& log,
                             DeviceManager& deviceManager);

// The properties of one device; a device that cannot be located gets an
// empty record.
DeviceProperties QueryDeviceProperties(const std::u16string& instancePath, DebugLog& log,
                                       DeviceManager& deviceManager);

// Converts a value by its row's kind, stores it and logs it. A row past the
// end of the table is ignored.
void StoreDeviceProperty(DeviceProperties& record, size_t row, const uint8_t* value, uint32_t size,
                         DebugLog& log);

}  // namespace dormex
