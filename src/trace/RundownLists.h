#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

namespace dormex {

class DebugLog;

// A PoFx device registration (Kernel-Power event 320).
struct PoFxDeviceRundown {
    int32_t DeviceNode = 0;
    std::string DeviceId;
    std::string InstancePath;
    std::string ServiceName;
};

// A device the Power Engine Plug-in knows, with its D-state dependency
// (Kernel-Pep event 2).
struct PepDeviceRundown {
    std::string DeviceId;
    std::string DeviceName;
    uint32_t PlatformStateDependencyCount = 0;
    std::array<int32_t, 3> PowerStates{};
};

// A component of a PEP device, with its F-state dependency (Kernel-Pep event 3).
struct PepComponentRundown {
    std::string DeviceId;
    std::string ComponentDescription;
    uint32_t PlatformStateDependencyCount = 0;
    std::array<int32_t, 3> PowerStates{};
};

// A device the OS power manager knows (Kernel-Power event 136).
struct PoDeviceEntry {
    std::string DeviceNode;
    std::string InstancePath;
    std::string FriendlyName;
};

// The four lists in trace order. Records keep their addresses while the lists
// grow: the correlation maps point at them.
struct RundownLists {
    std::deque<PoFxDeviceRundown> PoFxRundownList;
    std::deque<PepDeviceRundown> PepDeviceRundownList;
    std::deque<PepComponentRundown> PepComponentRundownList;
    std::deque<PoDeviceEntry> PoDeviceList;
};

// Writes one decoded value as a line of the scratch file: "name: value". The
// bytes that would end or split the line (control bytes, and in the name a
// colon) and '%' itself are written as %XX, so every value reads back whole
// and ordinary names and values are written as they are.
void WriteDeviceFileLine(std::ostream& file, std::string_view name, std::string_view value);

// Each reads the open scratch file of one decoded event ("Name: value" lines)
// from its start and appends one record. 87 when no file is open.
int32_t AddPoFxEntry(std::istream* deviceFile, RundownLists& lists, DebugLog& log);
int32_t AddPepDeviceEntry(std::istream* deviceFile, RundownLists& lists, DebugLog& log);
int32_t AddPepComponentEntry(std::istream* deviceFile, RundownLists& lists, DebugLog& log);
int32_t AddPoEntry(std::istream* deviceFile, RundownLists& lists, DebugLog& log);

}  // namespace dormex
