#include "analysis/Checks.h"

#include "analysis/ConstraintAnalysis.h"
#include "analysis/Findings.h"
#include "analysis/RuleMatching.h"
#include "analysis/StorageCases.h"
#include "common/Text.h"
#include "log/DebugLog.h"
#include "rules/RuleSet.h"
#include "trace/RundownLists.h"

namespace dormex {

namespace {

bool HasType(const Cdr& cdr, std::string_view type)
{
    return cdr.Rule != nullptr && cdr.Rule->RuleType == type;
}

void CheckClassInvalidators(ConstraintAnalysis& analysis, DebugLog& log)
{
    for (Cdr& cdr : analysis.CdrList) {
        if (cdr.Rule == nullptr || !HasType(cdr, RuleTypeClassInvalidator) ||
            cdr.DeviceMatches.empty() || cdr.PoDeviceMatches.empty()) {
            continue;
        }
        const std::string className = cdr.Rule->Class;
        InvalidateClass(className, analysis);
        DetectStorageDriver(*cdr.Rule, analysis, log);
    }
}

// The rule file cannot name classes of which one device must be constrained,
// so this step is the storage-cache volume check alone.
void CheckUniqueDevices(ConstraintAnalysis& analysis, const RundownLists& rundowns,
                        ErrorRegistry& errors, DebugLog& log, DeviceIo& deviceIo)
{
    if (analysis.StorageDriverPresent) {
        CheckStorageCacheVolume(rundowns, errors, log, deviceIo);
    }
}

void CheckUnexpectedDevices(const ConstraintAnalysis& analysis, ErrorRegistry& errors,
                            DebugLog& log)
{
    for (const Cdr& cdr : analysis.CdrList) {
        if (!HasType(cdr, RuleTypeRequiredNo)) {
            continue;
        }
        for (const DeviceMatch* match : cdr.DeviceMatches) {
            if (!match->Constrained()) {
                continue;
            }
            ErrorType type = cdr.Rule->ServiceName == "pci" ? UnexpectedPciConstraint
                             : cdr.Rule->Class == "storage" ? StorageCacheConstraintMissing
                                                            : UnexpectedConstraint;
            errors.AddError(type, cdr.Rule, match, nullptr, log);
        }
    }
}

void CheckRegistrations(const ConstraintAnalysis& analysis, ErrorRegistry& errors, DebugLog& log)
{
    for (const Cdr& cdr : analysis.CdrList) {
        if (HasType(cdr, RuleTypeRequiredNo)) {
            continue;
        }
        for (const DeviceMatch* match : cdr.DeviceMatches) {
            if (match->Constrained() && !match->Registered()) {
                errors.AddError(ConstraintWithoutPofx, cdr.Rule, match, nullptr, log);
            }
        }
    }
}

void CheckRequiredDevices(const ConstraintAnalysis& analysis, ErrorRegistry& errors, DebugLog& log)
{
    for (const Cdr& cdr : analysis.CdrList) {
        if (!HasType(cdr, RuleTypeAlways) && !HasType(cdr, RuleTypeDynamic)) {
            continue;
        }
        for (const DeviceMatch* match : cdr.DeviceMatches) {
            if (match->Registered() && !match->Constrained()) {
                errors.AddError(RequiredConstraintMissing, cdr.Rule, match, nullptr, log);
            }
        }
    }
}

// The first platform state whose D-state or F-state differs, if any. A device
// without a component has no F-state to compare.
bool PowerStatesDiffer(const Rule& rule, const DeviceMatch& match)
{
    for (size_t i = 0;
         i < ComparedPlatformStates && static_cast<int64_t>(i) < rule.PlatformStateCount &&
         i < rule.PlatformStates.size();
         ++i) {
        const PlatformStateConstraint& expected = rule.PlatformStates[i];
        if (ReadDecimal(expected.DState) != match.PepDevice->PowerStates[i]) {
            return true;
        }
        if (match.PepComponent != nullptr &&
            ReadDecimal(expected.FState) != match.PepComponent->PowerStates[i]) {
            return true;
        }
    }
    return false;
}

void CheckPowerStates(const ConstraintAnalysis& analysis, ErrorRegistry& errors, DebugLog& log)
{
    for (const Cdr& cdr : analysis.CdrList) {
        if (cdr.Rule == nullptr || HasType(cdr, RuleTypeRequiredNo)) {
            continue;
        }
        for (const DeviceMatch* match : cdr.DeviceMatches) {
            if (match->Constrained() && PowerStatesDiffer(*cdr.Rule, *match)) {
                errors.AddError(PowerStateMismatch, cdr.Rule, match, nullptr, log);
            }
        }
    }
}

void CheckYellowBangs(const RundownLists& rundowns, const DevicePropertiesByInstancePath& devices,
                      ErrorRegistry& errors, DebugLog& log)
{
    log.WriteLog(LogLevel::Information, "Running Yellow Bang Checks.", 0);
    if (rundowns.PoDeviceList.empty()) {
        log.WriteLog(LogLevel::Information, "Po List Empty, cannot find yellow bangs.", 0);
        return;
    }
    for (const PoDeviceEntry& device : rundowns.PoDeviceList) {
        int32_t code = GetDeviceProblemCode(device.InstancePath, devices, log);
        if (code != -1 && code != 0) {
            log.WriteLog(LogLevel::Information, "Device Error Code: " + std::to_string(code), 0);
            errors.AddError(DeviceProblemCode, nullptr, nullptr, &device, log);
        }
    }
    log.WriteLog(LogLevel::Information, "Device Information Logging Complete.", 0);
}

}  // namespace

void RunChecks(ConstraintAnalysis& analysis, const RundownLists& rundowns,
               const DevicePropertiesByInstancePath& devices, ErrorRegistry& errors, DebugLog& log,
               DeviceIo& deviceIo)
{
    CheckClassInvalidators(analysis, log);
    log.WriteLog(LogLevel::Information, "Class Invalidators Check completed..", 0);
    CheckUniqueDevices(analysis, rundowns, errors, log, deviceIo);
    log.WriteLog(LogLevel::Information, "Unique device Check completed..", 0);
    CheckUnexpectedDevices(analysis, errors, log);
    log.WriteLog(LogLevel::Information, "Unexpected Device Check completed..", 0);
    CheckRegistrations(analysis, errors, log);
    log.WriteLog(LogLevel::Information, "Registrations Check completed..", 0);
    CheckRequiredDevices(analysis, errors, log);
    log.WriteLog(LogLevel::Information, "Required Device Check completed..", 0);
    CheckPowerStates(analysis, errors, log);
    log.WriteLog(LogLevel::Information, "Power state Check completed..", 0);
    log.WriteLog(LogLevel::Information, "Unknown Device Check completed..", 0);
    log.WriteLog(LogLevel::Information, "Missing dependency Check completed..", 0);
    CheckYellowBangs(rundowns, devices, errors, log);
    log.WriteLog(LogLevel::Information, "Yellow Bang Check completed..", 0);
}

void InvalidateClass(const std::string& className, ConstraintAnalysis& analysis)
{
    for (Cdr& cdr : analysis.CdrList) {
        if (cdr.Rule != nullptr && cdr.Rule->Class == className) {
            cdr.Rule->RuleType = RuleTypeRequiredNo;
        }
    }
    // A class outside the fixed table gets a mark of its own.
    analysis.InvalidatedClasses.insert(className);
}

}  // namespace dormex
