#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string_view>
#include <vector>

namespace dormex {

class DebugLog;
struct DeviceMatch;
struct PoDeviceEntry;
struct Rule;

using ErrorType = int32_t;
inline constexpr ErrorType ConstraintWithoutPofx = 0;
inline constexpr ErrorType DeviceClassConstraintMissing = 1;
inline constexpr ErrorType PowerStateMismatch = 2;
inline constexpr ErrorType RequiredConstraintMissing = 3;
inline constexpr ErrorType UnexpectedConstraint = 4;
inline constexpr ErrorType StorageCacheConstraintMissing = 5;
inline constexpr ErrorType DeviceProblemCode = 6;
inline constexpr ErrorType UnexpectedPciConstraint = 7;

// The name of each kind, by its number.
inline constexpr std::array<std::string_view, 8> ErrorTypeNames = {
    "ConstraintWithoutPofx",     "DeviceClassConstraintMissing", "PowerStateMismatch",
    "RequiredConstraintMissing", "UnexpectedConstraint",         "StorageCacheConstraintMissing",
    "DeviceProblemCode",         "UnexpectedPciConstraint",
};

// The findings of one kind under one rule (compared by identity).
struct ReportError {
    ErrorType Type = 0;
    const dormex::Rule* Rule = nullptr;
    std::vector<const DeviceMatch*> Devices;
    std::vector<const PoDeviceEntry*> PoDevices;
};

// Every finding of the run. The checks add to it; the report reads it and
// numbers its sections with NextErrId.
class ErrorRegistry {
public:
    std::deque<ReportError> ErrorList;  // the entry created last stands first
    int32_t ErrorCount = 0;
    int32_t CriticalCount = 0;
    int32_t NextErrId = 0;

    // Files the device (the match, else the OS device) under the finding of
    // this kind and rule, creating it when there is none yet.
    void AddError(ErrorType type, const Rule* rule, const DeviceMatch* match,
                  const PoDeviceEntry* poDevice, DebugLog& log);
};

}  // namespace dormex
