#pragma once

#include <string>

#include "devices/DeviceProperties.h"

namespace dormex {

class DebugLog;
class ErrorRegistry;
class FileSystem;
struct ConstraintAnalysis;
struct LpitTable;
struct RundownLists;
struct SystemInfo;

// What the report shows.
struct ReportContents {
    const SystemInfo& System;
    ErrorRegistry& Errors;  // numbers the sections as they are rendered
    const DevicePropertiesByInstancePath& Devices;
    const LpitTable& Lpit;
    const std::string& LpitStatusText;
    const RundownLists& Rundowns;
    const ConstraintAnalysis& Analysis;
};

inline constexpr const char* ReportFilePrefix = "VQT-Report";
inline constexpr const char* ReportFileExtension = ".html";

// The report as one line of HTML; logs the progress of its parts.
std::string BuildReport(const ReportContents& contents, DebugLog& log);

// Writes the report to `path` (an earlier one is replaced). False when the
// file cannot be created or written.
bool WriteReport(std::string path, const ReportContents& contents, DebugLog& log,
                 FileSystem& files);

}  // namespace dormex
