#include "analysis/RuleMatching.h"

#include <algorithm>
#include <set>
#include <type_traits>

#include "analysis/ConstraintAnalysis.h"
#include "analysis/Patterns.h"
#include "analysis/StorageCases.h"
#include "common/Text.h"
#include "log/DebugLog.h"
#include "platform/Registry.h"
#include "rules/RuleSet.h"
#include "sysinfo/SystemInfo.h"
#include "trace/RundownLists.h"

namespace dormex {

namespace {

enum class MatchKind { None, ServiceName, Regex, Comparing };

// A rule lists a device at most once, so that the checks report it once.
template <typename Entry>
bool Contains(const std::vector<Entry*>& list, const std::remove_const_t<Entry>* entry)
{
    return std::find(list.begin(), list.end(), entry) != list.end();
}

// Whether rule R takes device D filed under key K.
MatchKind TestRule(const Rule& rule, const std::string& key, const DeviceMatch& device,
                   MatchContext& matching)
{
    const PoFxDeviceRundown* registration = device.PoFxDevice;
    if (registration != nullptr && !rule.ServiceName.empty() &&
        !registration->ServiceName.empty()) {
        if (AsciiLower(rule.ServiceName) != AsciiLower(registration->ServiceName)) {
            return MatchKind::None;  // neither part can accept any more
        }
        if (rule.Regex.empty()) {
            return MatchKind::ServiceName;
        }
    }
    if (rule.Regex.empty()) {
        return MatchKind::None;
    }
    if (matching.Patterns.Matches(rule, rule.Regex, key, matching.Log)) {
        return MatchKind::Regex;
    }
    // Keys put into a rule by the parent-rule step hold backslashes and are
    // compared as they are.
    return key == rule.Regex ? MatchKind::Comparing : MatchKind::None;
}

void LogMatch(MatchKind kind, const Rule& rule, const std::string& key, const DeviceMatch& device,
              DebugLog& log)
{
    switch (kind) {
    case MatchKind::ServiceName:
        log.WriteLog(LogLevel::Information,
                     "match found for Class with service name: " +
                         AsciiLower(device.PoFxDevice->ServiceName) + "with rule " +
                         AsciiLower(rule.ServiceName),
                     0);
        break;
    case MatchKind::Regex:
        log.WriteLog(LogLevel::Information,
                     "match found for Class with Regex: " + key + "with regex: " + rule.Regex, 0);
        break;
    case MatchKind::Comparing:
        log.WriteLog(
            LogLevel::Information,
            "match found for Class with comparing.: " + key + "with regex-string: " + rule.Regex,
            0);
        break;
    case MatchKind::None:
        break;
    }
}

bool BeginsWithPci(const std::string& path)
{
    return path.size() >= 4 && AsciiLower(path.substr(0, 4)) == "pci\\";
}

// What RemoveFromNil says of a device the unmatched cannot hold yet: one seen
// for the first time, at most just added as the last of them. It does not
// look through them, which would take the square of the devices.
void RemoveNewDeviceFromNil(ConstraintAnalysis& analysis, DebugLog& log)
{
    log.WriteLog(LogLevel::Information, "Removing Rule from CDR:", 0);
    if (analysis.NilCdr().DeviceMatches.empty()) {
        log.WriteLog(LogLevel::Information, "Device Matches is empty!!", 0);
    }
}

}  // namespace

OsEntry* ChooseOsEntry(RuleSet& rules, const SystemInfo& system)
{
    for (OsEntry& entry : rules.OsEntries) {
        if (system.OsBuild.find(entry.Build) != std::string::npos) {
            return &entry;
        }
    }
    return rules.OsEntries.empty() ? nullptr : &rules.OsEntries.back();
}

void MatchRules(ConstraintAnalysis& analysis, RuleSet& rules, const SystemInfo& system,
                const RundownLists& rundowns, const DevicePropertiesByInstancePath& devices,
                DebugLog& log, Registry& registry)
{
    if (OsEntry* entry = ChooseOsEntry(rules, system)) {
        for (Rule& rule : entry->Rules) {
            analysis.CdrList.push_back(Cdr{&rule, {}, {}});
            log.WriteLog(LogLevel::Information,
                         "Adding Rule to cdr. Class: " + rule.Class +
                             "servicename/regex: " + rule.ServiceName + "/" + rule.Regex,
                         0);
        }
    }
    analysis.CdrList.push_back(Cdr{});  // the NIL Cdr

    PatternCache patterns;
    MatchContext matching{analysis, rundowns, devices, log, registry, patterns};
    for (Cdr& cdr : analysis.CdrList) {
        if (cdr.Rule == nullptr) {
            break;
        }
        if (cdr.Rule->RuleOnParent == "1" &&
            ResolveParentRule(*cdr.Rule, matching) == ParentRuleResult::Stop) {
            break;
        }
    }
    MatchDevices(matching);
}

ParentRuleResult ResolveParentRule(Rule& rule, MatchContext& matching)
{
    DebugLog& log = matching.Log;
    log.WriteLog(LogLevel::Information, "Rule on Parent Detected for" + rule.Class, 0);

    std::string path;
    for (const PoDeviceEntry& device : matching.Rundowns.PoDeviceList) {
        DetectStorageDriver(device, matching.Analysis, log);
        if (device.FriendlyName == rule.ServiceName && !device.InstancePath.empty()) {
            path = device.InstancePath;
            break;
        }
    }
    if (path.empty()) {
        return ParentRuleResult::Continue;
    }
    log.WriteLog(LogLevel::Information, "Device Instance Path:" + path, 0);

    // Up the parents to the first device described as a root port.
    std::string current = path;
    std::string next;
    std::set<std::string> visited;
    while (true) {
        auto record = matching.Devices.find(current);
        if (record == matching.Devices.end() || !visited.insert(current).second) {
            log.WriteLog(LogLevel::Information,
                         "Cannot find information in Device MAP for:" + current, 0);
            return ParentRuleResult::Stop;
        }
        const std::string& description = record->second.DeviceDesc;
        next = record->second.Parent;
        log.WriteLog(LogLevel::Information,
                     "Finding Root Port :" + current + "Compared: " + description, 0);
        if (description.find("Root Port") != std::string::npos) {
            break;
        }
        current = next;
    }
    log.WriteLog(LogLevel::Information, "Found Match for Root Port :" + next, 0);

    for (const PoFxDeviceRundown& registration : matching.Rundowns.PoFxRundownList) {
        size_t position = current.find(registration.InstancePath);
        std::string shown = position == std::string::npos ? "-1" : std::to_string(position);
        log.WriteLog(LogLevel::Information,
                     "Checking :" + registration.InstancePath + "Compared: " + shown, 0);
        if (position == 0) {
            rule.Regex = registration.DeviceId;
            log.WriteLog(LogLevel::Information, "Found Match :" + registration.InstancePath, 0);
            break;
        }
    }
    rule.ServiceName.clear();
    log.WriteLog(LogLevel::Information, "new Regex: " + rule.Regex, 0);
    return ParentRuleResult::Continue;
}

void MatchDevices(MatchContext& matching)
{
    ConstraintAnalysis& analysis = matching.Analysis;
    DebugLog& log = matching.Log;

    for (const auto& [key, device] : analysis.DeviceMap) {
        for (Cdr& cdr : analysis.CdrList) {
            if (cdr.Rule == nullptr) {
                log.WriteLog(LogLevel::Warning, "No rule match found for Acpi Name: " + key, 0);
                cdr.DeviceMatches.push_back(device.get());
                RemoveNewDeviceFromNil(analysis, log);
                break;
            }
            MatchKind kind = TestRule(*cdr.Rule, key, *device, matching);
            if (kind != MatchKind::None) {
                cdr.DeviceMatches.push_back(device.get());
                LogMatch(kind, *cdr.Rule, key, *device, log);
                RemoveNewDeviceFromNil(analysis, log);
                break;
            }
        }
    }

    for (Cdr& cdr : analysis.CdrList) {
        if (cdr.Rule == nullptr) {
            break;
        }
        if (!cdr.Rule->ServiceName.empty()) {
            MatchPoDevicesByServiceName(cdr, cdr.Rule->ServiceName, matching);
        } else if (!cdr.Rule->Regex.empty()) {
            MatchPoDevicesByRegex(cdr, cdr.Rule->Regex, matching);
        }
    }

    log.WriteLog(LogLevel::Information, "Special Case investigation Starting... ", 0);
    for (Cdr& cdr : analysis.CdrList) {
        if (cdr.Rule == nullptr) {
            break;
        }
        if (cdr.Rule->Class == "WiFi-Radio") {
            WifiSpecialCase(cdr, matching);
        } else if (cdr.Rule->Class == "zephlink") {
            ZephlinkSpecialCase(cdr, matching);
        }
    }
}

void MatchPoDevicesByServiceName(Cdr& cdr, const std::string& text, MatchContext& matching)
{
    for (const PoDeviceEntry& device : matching.Rundowns.PoDeviceList) {
        if (device.FriendlyName == text && !Contains(cdr.PoDeviceMatches, &device)) {
            cdr.PoDeviceMatches.push_back(&device);
            matching.Log.WriteLog(LogLevel::Information,
                                  "match found for Po Device Rundown with Service name: " + text +
                                      " with Friendly name: " + device.FriendlyName,
                                  0);
        }
    }
}

void MatchPoDevicesByRegex(Cdr& cdr, const std::string& pattern, MatchContext& matching)
{
    for (const PoDeviceEntry& device : matching.Rundowns.PoDeviceList) {
        if (cdr.Rule != nullptr &&
            matching.Patterns.Matches(*cdr.Rule, pattern, device.FriendlyName, matching.Log)) {
            cdr.PoDeviceMatches.push_back(&device);
            matching.Log.WriteLog(LogLevel::Information,
                                  "match found for Po Device Rundown with regex: " + pattern +
                                      " with Friendly name: " + device.FriendlyName,
                                  0);
        }
    }
}

void RemoveFromNil(const DeviceMatch* match, ConstraintAnalysis& analysis, DebugLog& log)
{
    log.WriteLog(LogLevel::Information, "Removing Rule from CDR:", 0);
    std::vector<DeviceMatch*>& unmatched = analysis.NilCdr().DeviceMatches;
    if (unmatched.empty()) {
        log.WriteLog(LogLevel::Information, "Device Matches is empty!!", 0);
        return;
    }
    // The last entry is never looked at: it is the device just found unmatched.
    for (size_t i = 0; i + 1 < unmatched.size(); ++i) {
        if (unmatched[i] == match) {
            log.WriteLog(LogLevel::Information, "Matching PCDR found!! " + std::to_string(i), 0);
            unmatched.erase(unmatched.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
    }
}

void WifiSpecialCase(Cdr& cdr, MatchContext& matching)
{
    DebugLog& log = matching.Log;
    log.WriteLog(LogLevel::Information, "Wifi Special Case: Class Found", 0);
    auto adapter = ReadRegistryValue("system\\currentcontrolset\\services\\vwifibus\\enum\\", "0",
                                     RegistryTypeSz, log, matching.Registry);
    if (!adapter) {
        return;
    }
    std::string instance = TextUpToZero(*adapter);
    if (instance.find("PCI\\") == std::string::npos) {
        return;
    }
    auto service = ReadRegistryValue("SYSTEM\\CurrentControlset\\Enum\\" + instance, "Service",
                                     RegistryTypeSz, log, matching.Registry);
    log.WriteLog(LogLevel::Information, "Wifi Special Case: Device Found", 0);
    if (!service) {
        return;
    }
    const std::string adapterService = TextUpToZero(*service);
    MatchPoDevicesByServiceName(cdr, adapterService, matching);
    // The rule's own service name may have listed other OS devices before the
    // adapter's: the registrations added are those of the adapter's service,
    // once that names an OS device.
    auto isAdapter = [&](const PoDeviceEntry* entry) {
        return entry->FriendlyName == adapterService;
    };
    if (adapterService.empty() ||
        std::none_of(cdr.PoDeviceMatches.begin(), cdr.PoDeviceMatches.end(), isAdapter)) {
        return;
    }
    for (const auto& [key, device] : matching.Analysis.DeviceMap) {
        if (device->PoFxDevice == nullptr || device->PoFxDevice->ServiceName != adapterService ||
            Contains(cdr.DeviceMatches, device.get())) {
            continue;
        }
        cdr.DeviceMatches.push_back(device.get());
        log.WriteLog(LogLevel::Information,
                     "match found for Class with device service name: " + adapterService +
                         "of device: " + adapterService,
                     0);
        RemoveFromNil(device.get(), matching.Analysis, log);
    }
}

void ZephlinkSpecialCase(Cdr& cdr, MatchContext& matching)
{
    DebugLog& log = matching.Log;
    log.WriteLog(LogLevel::Information, "Special special case investigation Starting... ", 0);
    if (cdr.PoDeviceMatches.empty()) {
        return;
    }
    const std::string& path = cdr.PoDeviceMatches.front()->InstancePath;
    if (GetDeviceProblemCode(path, matching.Devices, log) <= 0 || cdr.Rule->RuleOnParent != "1") {
        return;
    }
    // Instance paths begin with their enumerator already; "PCI\" is added only
    // to a path that lacks it.
    std::string key = BeginsWithPci(path) ? "system\\CurrentControlSet\\Enum\\" + path
                                          : "system\\CurrentControlSet\\Enum\\PCI\\" + path;
    key += "\\Device Parameters\\WDF";
    log.WriteLog(LogLevel::Information, "ZLK Register found at: " + key, 0);

    auto idle =
        ReadRegistryValue(key, "IdleInWorkingState", RegistryTypeDword, log, matching.Registry);
    if (idle) {
        idle->resize(std::min<size_t>(idle->size(), 4));
        std::string text = TextUpToZero(*idle);
        if (!text.empty() && text[0] != '1') {
            log.WriteLog(LogLevel::Information, "ZLK RTD3 Supported.", 0);
        }
        return;
    }
    log.WriteLog(LogLevel::Information, "ZLK RTD3 NOT Supported.", 0);
    Rule& rule = *cdr.Rule;
    for (int32_t i = 0;
         i < rule.PlatformStateCount && static_cast<size_t>(i) < rule.PlatformStates.size(); ++i) {
        PlatformStateConstraint& state = rule.PlatformStates[static_cast<size_t>(i)];
        state.DState = std::string(1, '0');
        state.FState = std::string(1, '1');
        log.WriteLog(LogLevel::Information,
                     "Rules modified to D: " + state.DState + "F state: " + state.FState, 0);
    }
}

int32_t GetDeviceProblemCode(const std::string& instancePath,
                             const DevicePropertiesByInstancePath& devices, DebugLog& log)
{
    if (devices.empty()) {
        log.WriteLog(LogLevel::Error, "No device is present.", 0);
        return -1;
    }
    auto record = devices.find(instancePath);
    if (record == devices.end() || record->second.ProblemCode == 0) {
        return -1;
    }
    log.WriteLog(LogLevel::Information, "Logged value" + std::to_string(record->second.ProblemCode),
                 0);
    return record->second.ProblemCode;
}

}  // namespace dormex
