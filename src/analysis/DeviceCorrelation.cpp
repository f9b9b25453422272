#include "analysis/DeviceCorrelation.h"

#include "log/DebugLog.h"
#include "rules/RuleSet.h"
#include "trace/RundownLists.h"

namespace dormex {

namespace {

// A PEP name ending in "*" is looked up without it.
std::string LookupText(const std::string& name)
{
    if (!name.empty() && name.back() == '*') {
        return name.substr(0, name.size() - 1);
    }
    return name;
}

template <typename Rundown>
void FillPepMap(ConstraintAnalysis& analysis, const std::deque<Rundown>& rundowns,
                std::string Rundown::*name, const Rundown* DeviceMatch::*slot, const char* kind,
                DebugLog& log)
{
    for (const Rundown& rundown : rundowns) {
        const std::string& key = rundown.*name;
        DeviceMatch* match = FindDeviceMatch(analysis, LookupText(key), log);
        if (match == nullptr) {
            auto inserted = analysis.DeviceMap.emplace(key, std::make_unique<DeviceMatch>());
            match = inserted.first->second.get();
            log.WriteLog(LogLevel::Information,
                         std::string("NEW MAP ENTRY:: added ") + kind + " entry with ID: " + key,
                         0);
        }
        match->*slot = &rundown;
        log.WriteLog(LogLevel::Information,
                     std::string("EXISTING MAP ENTRY:: added ") + kind + " entry with ID: " + key,
                     0);
    }
}

}  // namespace

int32_t FillPoFxMap(ConstraintAnalysis& analysis, const RundownLists& rundowns, DebugLog& log)
{
    for (const PoFxDeviceRundown& rundown : rundowns.PoFxRundownList) {
        auto [entry, inserted] = analysis.DeviceMap.try_emplace(rundown.DeviceId);
        if (inserted) {
            entry->second = std::make_unique<DeviceMatch>();
            log.WriteLog(LogLevel::Information,
                         "NEW MAP ENTRY:: added PoFx entry with ID: " + rundown.DeviceId, 0);
        }
        entry->second->PoFxDevice = &rundown;
        log.WriteLog(LogLevel::Information,
                     "EXISTING MAP ENTRY:: added PoFx entry with ID: " + rundown.DeviceId, 0);
    }
    return 0;
}

int32_t FillPepDeviceMap(ConstraintAnalysis& analysis, const RundownLists& rundowns, DebugLog& log)
{
    FillPepMap(analysis, rundowns.PepDeviceRundownList, &PepDeviceRundown::DeviceName,
               &DeviceMatch::PepDevice, "PEPD", log);
    return 0;
}

int32_t FillPepComponentMap(ConstraintAnalysis& analysis, const RundownLists& rundowns,
                            DebugLog& log)
{
    FillPepMap(analysis, rundowns.PepComponentRundownList,
               &PepComponentRundown::ComponentDescription, &DeviceMatch::PepComponent, "PEPC", log);
    return 0;
}

DeviceMatch* FindDeviceMatch(ConstraintAnalysis& analysis, const std::string& text, DebugLog& log)
{
    auto exact = analysis.DeviceMap.find(text);
    if (exact != analysis.DeviceMap.end()) {
        return exact->second.get();
    }
    log.WriteLog(LogLevel::Information, "Key not found for " + text, 0);
    for (const auto& [key, match] : analysis.DeviceMap) {
        if (key.find(text) != std::string::npos) {
            return match.get();
        }
    }
    return nullptr;
}

}  // namespace dormex
