#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

#include "platform/DeviceManager.h"

namespace dormex {

// A device-manager property Dormex reads, with its name: the DeviceProperties
// field that holds it, which is also the name a machine snapshot files it
// under. The reader finds each key by that name.
struct DevicePropertyKey {
    DevPropKey Key;
    std::string_view Name;
};

namespace devpkey {
inline constexpr Guid DeviceBase = {
    0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}};
inline constexpr Guid DeviceNode = {
    0x4340A6C5, 0x93FA, 0x4706, {0x97, 0x2C, 0x7B, 0x64, 0x80, 0x08, 0xA5, 0xA7}};
inline constexpr Guid BusReported = {
    0x540B947E, 0x8B40, 0x45BC, {0xA8, 0xA2, 0x6A, 0x0B, 0x89, 0x4C, 0xBD, 0xA2}};
inline constexpr Guid DriverInfo = {
    0xA8B865DD, 0x2E3D, 0x4094, {0xAD, 0x97, 0xE5, 0x93, 0xA7, 0x0C, 0x75, 0xD6}};
inline constexpr Guid Instance = {
    0x78C34FC8, 0x104A, 0x4ACA, {0x9E, 0xA4, 0x52, 0x4D, 0x52, 0x99, 0x6E, 0x57}};
}  // namespace devpkey

inline constexpr std::array<DevicePropertyKey, 29> DevicePropertyKeys = {{
    {{devpkey::DeviceNode, 9}, "Children"},                // DEVPKEY_Device_Children
    {{devpkey::DeviceBase, 9}, "Class"},                   // DEVPKEY_Device_Class
    {{devpkey::BusReported, 4}, "BusReportedDeviceDesc"},  // DEVPKEY_Device_BusReportedDeviceDesc
    {{devpkey::DeviceBase, 2}, "DeviceDesc"},              // DEVPKEY_Device_DeviceDesc
    {{devpkey::DeviceNode, 2}, "DevNodeStatus"},           // DEVPKEY_Device_DevNodeStatus
    {{devpkey::DeviceBase, 11}, "Driver"},                 // DEVPKEY_Device_Driver
    {{devpkey::DriverInfo, 4}, "DriverDesc"},              // DEVPKEY_Device_DriverDesc
    {{devpkey::DriverInfo, 5}, "DriverInfPath"},           // DEVPKEY_Device_DriverInfPath
    {{devpkey::DriverInfo, 6}, "DriverInfSection"},        // DEVPKEY_Device_DriverInfSection
    {{devpkey::DriverInfo, 9}, "DriverProvider"},          // DEVPKEY_Device_DriverProvider
    {{devpkey::DriverInfo, 14}, "DriverRank"},             // DEVPKEY_Device_DriverRank
    {{devpkey::DriverInfo, 3}, "DriverVersion"},           // DEVPKEY_Device_DriverVersion
    {{devpkey::DeviceBase, 14}, "FriendlyName"},           // DEVPKEY_Device_FriendlyName
    {{devpkey::DeviceBase, 3}, "HardwareIds"},             // DEVPKEY_Device_HardwareIds
    {{devpkey::DeviceBase, 36}, "InstallState"},           // DEVPKEY_Device_InstallState
    {{devpkey::Instance, 256}, "InstanceId"},              // DEVPKEY_Device_InstanceId
    {{devpkey::DeviceBase, 22}, "LegacyBusType"},          // DEVPKEY_Device_LegacyBusType
    {{devpkey::DeviceBase, 15}, "LocationInfo"},           // DEVPKEY_Device_LocationInfo
    {{devpkey::DeviceBase, 37}, "LocationPaths"},          // DEVPKEY_Device_LocationPaths
    {{devpkey::DeviceBase, 13}, "Manufacturer"},           // DEVPKEY_Device_Manufacturer
    {{devpkey::DriverInfo, 8}, "MatchingDeviceId"},        // DEVPKEY_Device_MatchingDeviceId
    {{devpkey::DeviceNode, 8}, "Parent"},                  // DEVPKEY_Device_Parent
    {{devpkey::DeviceBase, 16}, "PdoName"},                // DEVPKEY_Device_PDOName
    {{devpkey::DeviceBase, 32}, "PowerData"},              // DEVPKEY_Device_PowerData
    {{devpkey::DeviceNode, 3}, "ProblemCode"},             // DEVPKEY_Device_ProblemCode
    {{devpkey::DeviceBase, 33}, "RemovalPolicy"},          // DEVPKEY_Device_RemovalPolicy
    {{devpkey::DeviceBase, 34}, "RemovalPolicyDefault"},   // DEVPKEY_Device_RemovalPolicyDefault
    {{devpkey::DeviceBase, 6}, "Service"},                 // DEVPKEY_Device_Service
    {{devpkey::DeviceNode, 10}, "Siblings"},               // DEVPKEY_Device_Siblings
}};

// The key filed under `name`; a name that is not in the table does not compile.
consteval DevPropKey DevicePropertyKeyNamed(std::string_view name)
{
    for (const DevicePropertyKey& key : DevicePropertyKeys) {
        if (key.Name == name) {
            return key.Key;
        }
    }
    throw "no device property key of that name";
}

// The index of the property named `name`, or of the one read with `key`, in
// DevicePropertyKeys; the table's size when none is.
constexpr size_t DevicePropertyIndex(std::string_view name)
{
    auto found = std::find_if(DevicePropertyKeys.begin(), DevicePropertyKeys.end(),
                              [&](const DevicePropertyKey& known) { return known.Name == name; });
    return static_cast<size_t>(found - DevicePropertyKeys.begin());
}
constexpr size_t DevicePropertyIndex(const DevPropKey& key)
{
    // The property id first: it tells most keys apart at once.
    auto found = std::find_if(DevicePropertyKeys.begin(), DevicePropertyKeys.end(),
                              [&](const DevicePropertyKey& known) {
                                  return known.Key.Pid == key.Pid && known.Key.FmtId == key.FmtId;
                              });
    return static_cast<size_t>(found - DevicePropertyKeys.begin());
}

}  // namespace dormex
