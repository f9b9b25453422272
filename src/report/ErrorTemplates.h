#pragma once

#include <cstdint>
#include <string>

#include "analysis/Findings.h"
#include "devices/DeviceProperties.h"

namespace dormex {

class DebugLog;

// The HTML template of an error type, "" for a type without one.
const std::string& HtmlTemplate(ErrorType type);

// One section per device of the error (one when it has none), numbered from
// the registry's NextErrId, which advances.
std::string RenderError(ErrorRegistry& registry, const ReportError& error,
                        const DevicePropertiesByInstancePath& devices, DebugLog& log);

// The template with its placeholders filled for device `deviceIndex`, the
// section numbered `errId`.
std::string ExpandTemplate(const std::string& htmlTemplate, const ReportError& error,
                           int32_t deviceIndex, int32_t errId,
                           const DevicePropertiesByInstancePath& devices, DebugLog& log);

// The headline: "No Errors Found" or the number of issues.
std::string ErrorSummaryText(const ErrorRegistry& registry);

// The values the placeholders stand for, as plain text.
std::string GetFirstFailedDev(const ReportError& error, int32_t index);
std::string GetDcs(const ReportError& error);
std::string GetExpectedDfConsSlice(const ReportError& error);
std::string GetActualDfConsSlice(const ReportError& error, int32_t index);

}  // namespace dormex
