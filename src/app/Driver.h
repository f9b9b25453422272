#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dormex {

class FileSystem;
class Security;
struct Platform;
struct RunState;
struct SystemInfo;

// The whole run: `arguments` are the command-line arguments after the program
// name. Returns the exit status.
int32_t RunDormex(const std::vector<std::string>& arguments, RunState& state, Platform& platform);

// <profile>\Desktop when it exists, otherwise the current directory.
std::string OutputDirectory(const SystemInfo& info, FileSystem& files);

// The output directory, a backslash, the prefix and the extension.
std::string ReportFilePath(std::string prefix, std::string extension, const SystemInfo& info,
                           FileSystem& files);

// Whether the calling thread's token belongs to the Administrators group.
bool IsAdministrator(Security& security);

}  // namespace dormex
