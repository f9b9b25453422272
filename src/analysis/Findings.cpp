#include "analysis/Findings.h"

#include <string>

#include "analysis/ConstraintAnalysis.h"
#include "log/DebugLog.h"
#include "rules/RuleSet.h"
#include "trace/RundownLists.h"

namespace dormex {

namespace {

// What AddError was handed: the rule, the device match and the OS device.
void LogFinding(ErrorType type, const Rule* rule, const DeviceMatch* match,
                const PoDeviceEntry* poDevice, DebugLog& log)
{
    if (rule == nullptr) {
        log.WriteLog(LogLevel::Information,
                     "Rules are NULL. Error Added: \n\tErrorType: " + std::to_string(type), 0);
    } else {
        log.WriteLog(LogLevel::Information,
                     "Error Added: \n\tErrorType: " + std::to_string(type) +
                         "\n\t Rule Class: " + rule->Class + "\n\t Regex: " + rule->Regex +
                         "\n\t ServiceName: " + rule->ServiceName,
                     0);
    }
    if (match == nullptr) {
        log.WriteLog(LogLevel::Information, "Device Match is NULL", 0);
    } else if (match->PoFxDevice == nullptr) {
        log.WriteLog(LogLevel::Information,
                     match->PepDevice == nullptr ? "Both PoFx match and PEP are NULL"
                                                 : "Device Id: " + match->PepDevice->DeviceName,
                     0);
    } else {
        log.WriteLog(LogLevel::Information,
                     "Device Id: " + match->PoFxDevice->DeviceId +
                         "\n\t Device Name : " + match->PoFxDevice->InstancePath +
                         "\n\t ServiceName: " + match->PoFxDevice->ServiceName,
                     0);
    }
    if (poDevice == nullptr) {
        log.WriteLog(LogLevel::Information, "Po Device Match is NULL", 0);
    } else {
        log.WriteLog(LogLevel::Information,
                     "Device Id: " + poDevice->DeviceNode + "\n\t Instance Path: " +
                         poDevice->InstancePath + "\n\t Friendly Name: " + poDevice->FriendlyName,
                     0);
    }
}

// A device match when there is one, else the OS device, else nothing.
void FileDevice(ReportError& error, const DeviceMatch* match, const PoDeviceEntry* poDevice)
{
    if (match != nullptr) {
        error.Devices.push_back(match);
    } else if (poDevice != nullptr) {
        error.PoDevices.push_back(poDevice);
    }
}

}  // namespace

void ErrorRegistry::AddError(ErrorType type, const Rule* rule, const DeviceMatch* match,
                             const PoDeviceEntry* poDevice, DebugLog& log)
{
    LogFinding(type, rule, match, poDevice, log);
    bool found = false;
    for (ReportError& error : ErrorList) {
        if (error.Type != type || error.Rule != rule) {
            continue;
        }
        found = true;
        FileDevice(error, match, poDevice);
        ++CriticalCount;
        log.WriteLog(LogLevel::Information,
                     "CRITICAL RULE ERROR for provided device; Critical Error Count: " +
                         std::to_string(CriticalCount),
                     0);
    }
    if (found) {
        return;
    }
    ReportError error;
    error.Type = type;
    error.Rule = rule;
    FileDevice(error, match, poDevice);
    ++ErrorCount;
    log.WriteLog(LogLevel::Information,
                 "First insertion of a rule, Error count incremented for provided device; Error "
                 "Count: " +
                     std::to_string(ErrorCount),
                 0);
    ++CriticalCount;
    log.WriteLog(LogLevel::Information,
                 "First insertion of a rul. CRITICAL RULE ERROR for provided device; Critical "
                 "Error Count: " +
                     std::to_string(CriticalCount),
                 0);
    ErrorList.push_front(std::move(error));
}

}  // namespace dormex
