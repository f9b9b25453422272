#pragma once

#include <string>

#include "platform/FileSystem.h"
#include "sysinfo/SystemInfo.h"

namespace dormex {

inline constexpr const char* DebugLogFileName = "VQT-Debug-Log.txt";

// <profile>\Desktop when it exists, otherwise the current directory.
std::string OutputDirectory(const SystemInfo& info, FileSystem& files);

// The output directory, a backslash, the prefix and the extension.
std::string ReportFilePath(std::string prefix, std::string extension, const SystemInfo& info,
                           FileSystem& files);

}  // namespace dormex
