#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "devices/DeviceProperties.h"

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

// The findings of one kind under one rule (compared by identity).
struct ReportError {
    ErrorType Type = 0;
    const dormex::Rule* Rule = nullptr;
    std::vector<const DeviceMatch*> Devices;
    std::vector<const PoDeviceEntry*> PoDevices;
};

// The HTML template of an error type, "" for a type without one.
const std::string& HtmlTemplate(ErrorType type);

// Every finding of the run, and their rendering into report sections.
class ErrorRegistry {
public:
    std::deque<ReportError> ErrorList;  // the entry created last stands first
    int32_t ErrorCount = 0;
    int32_t CriticalCount = 0;
    int32_t NextErrId = 0;

    void AddError(ErrorType type, const Rule* rule, const DeviceMatch* match,
                  const PoDeviceEntry* poDevice, DebugLog& log);

    // One section per device of the error (one when it has none).
    std::string RenderError(const ReportError& error, const DevicePropertiesByInstancePath& devices,
                            DebugLog& log);

    // The template with its placeholders filled for device `deviceIndex`.
    std::string ExpandTemplate(const std::string& htmlTemplate, const ReportError& error,
                               int32_t deviceIndex, const DevicePropertiesByInstancePath& devices,
                               DebugLog& log) const;

    std::string ErrorSummaryText() const;
};

// The values the placeholders stand for, as plain text.
std::string GetFirstFailedDev(const ReportError& error, int32_t index);
std::string GetDcs(const ReportError& error);
std::string GetExpectedDfConsSlice(const ReportError& error);
std::string GetActualDfConsSlice(const ReportError& error, int32_t index);

}  // namespace dormex
