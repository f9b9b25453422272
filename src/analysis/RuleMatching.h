#pragma once

#include <cstdint>
#include <string>

#include "devices/DeviceProperties.h"

namespace dormex {

class DebugLog;
class PatternCache;
class Registry;
struct Cdr;
struct ConstraintAnalysis;
struct DeviceMatch;
struct Rule;
struct RuleSet;
struct RundownLists;
struct SystemInfo;

struct OsEntry;

// The OS entry a run takes: the first whose build the machine's OS build
// contains, else the last; none for a rule set without entries.
OsEntry* ChooseOsEntry(RuleSet& rules, const SystemInfo& system);

// Chooses the OS entry, builds the CdrList, redirects parent rules to their
// root ports and assigns every device (MatchDevices).
void MatchRules(ConstraintAnalysis& analysis, RuleSet& rules, const SystemInfo& system,
                const RundownLists& rundowns, const DevicePropertiesByInstancePath& devices,
                DebugLog& log, Registry& registry);

// What the rule matching of one run works with.
struct MatchContext {
    ConstraintAnalysis& Analysis;
    const RundownLists& Rundowns;
    const DevicePropertiesByInstancePath& Devices;
    DebugLog& Log;
    dormex::Registry& Registry;
    PatternCache& Patterns;
};

enum class ParentRuleResult { Continue, Stop };

ParentRuleResult ResolveParentRule(Rule& rule, MatchContext& matching);
void MatchDevices(MatchContext& matching);
void MatchPoDevicesByServiceName(Cdr& cdr, const std::string& text, MatchContext& matching);
void MatchPoDevicesByRegex(Cdr& cdr, const std::string& pattern, MatchContext& matching);
void RemoveFromNil(const DeviceMatch* match, ConstraintAnalysis& analysis, DebugLog& log);
void WifiSpecialCase(Cdr& cdr, MatchContext& matching);
void ZephlinkSpecialCase(Cdr& cdr, MatchContext& matching);

// The device-manager problem code of a device, or -1.
int32_t GetDeviceProblemCode(const std::string& instancePath,
                             const DevicePropertiesByInstancePath& devices, DebugLog& log);

}  // namespace dormex
