#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace dormex {

class DebugLog;
struct PepComponentRundown;
struct PepDeviceRundown;
struct PoDeviceEntry;
struct PoFxDeviceRundown;
struct Rule;
struct RundownLists;

// The rundowns of one device, joined under its device key. None is owned.
struct DeviceMatch {
    const PepComponentRundown* PepComponent = nullptr;
    const PepDeviceRundown* PepDevice = nullptr;
    const PoFxDeviceRundown* PoFxDevice = nullptr;

    bool Constrained() const { return PepDevice != nullptr; }
    bool Registered() const { return PoFxDevice != nullptr; }
};

// The devices assigned to one rule of the chosen OS entry; the last record of
// the list (the NIL Cdr) has no rule and holds the devices no rule took.
struct Cdr {
    dormex::Rule* Rule = nullptr;
    std::vector<DeviceMatch*> DeviceMatches;
    std::vector<const PoDeviceEntry*> PoDeviceMatches;
};

// The analysis of one run.
struct ConstraintAnalysis {
    ConstraintAnalysis();

    std::map<std::string, int32_t> ClassStates;  // 1: invalidated by a class invalidator
    bool StorageDriverPresent = false;
    std::deque<Cdr> CdrList;
    // Ordered byte-wise; every walk goes in ascending key order.
    std::map<std::string, std::unique_ptr<DeviceMatch>> DeviceMap;

    Cdr& NilCdr() { return CdrList.back(); }
};

// Each files one kind of rundown under its device key. 0, or 14 when no
// record can be had.
int32_t FillPoFxMap(ConstraintAnalysis& analysis, const RundownLists& rundowns, DebugLog& log);
int32_t FillPepDeviceMap(ConstraintAnalysis& analysis, const RundownLists& rundowns, DebugLog& log);
int32_t FillPepComponentMap(ConstraintAnalysis& analysis, const RundownLists& rundowns,
                            DebugLog& log);

// The record under `text`, else under the first key that contains it, else none.
DeviceMatch* FindDeviceMatch(ConstraintAnalysis& analysis, const std::string& text, DebugLog& log);

}  // namespace dormex
