#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace dormex {

struct PepComponentRundown;
struct PepDeviceRundown;
struct PoDeviceEntry;
struct PoFxDeviceRundown;
struct Rule;

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
    std::set<std::string> InvalidatedClasses;  // by a class invalidator
    bool StorageDriverPresent = false;
    std::deque<Cdr> CdrList;
    // Ordered byte-wise; every walk goes in ascending key order.
    std::map<std::string, std::unique_ptr<DeviceMatch>> DeviceMap;

    Cdr& NilCdr() { return CdrList.back(); }
};

}  // namespace dormex
