#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dormex {

class DebugLog;
class FileSystem;
class PowerInformation;
class Registry;
struct Platform;

// The machine's identity.
struct SystemInfo {
    std::vector<std::string> OsNames{"Microsoft_Windows_10"};
    bool AoAc = false;
    std::string CpuArchitecture = "Unknown";
    int32_t CpuFamily = 0;
    int32_t CpuModel = 0;
    int32_t CpuStepping = 0;
    std::string OsBuild = "Unknown";
    int32_t OsIndex = 0;
    std::string BiosVersion = "Unknown";
    std::string BiosVendor = "Unknown";
    std::string BiosReleaseDate = "Unknown";
    // From the same key as the BIOS values, read without a word in the log:
    // only the results carry them.
    std::string Manufacturer = "Unknown";
    std::string ProductName = "Unknown";
    std::string UserProfile;
};

inline constexpr const char* ProcessorKey = "hardware\\description\\system\\centralprocessor\\0\\";
inline constexpr const char* CurrentVersionKey =
    "software\\microsoft\\windows nt\\currentversion\\";
inline constexpr const char* BiosKey = "hardware\\description\\system\\bios\\";

// The OS name that rule-file names carry (the entry of OsNames at OsIndex).
std::string OsName(const SystemInfo& info);

int32_t ReadSystemInfo(SystemInfo& info, DebugLog& log, Platform& platform);
bool ReadUserProfile(SystemInfo& info, DebugLog& log, FileSystem& files);
int32_t ReadAoAc(SystemInfo& info, DebugLog& log, PowerInformation& power);
int32_t ReadCpuInfo(SystemInfo& info, DebugLog& log, Registry& registry);
int32_t ReadOsInfo(SystemInfo& info, DebugLog& log, Registry& registry);
int32_t ReadBiosInfo(SystemInfo& info, DebugLog& log, Registry& registry);
// The manufacturer and product name where the machine has them.
void ReadMachineName(SystemInfo& info, Registry& registry);

// One HKEY_LOCAL_MACHINE value into a new buffer, or nothing when it cannot
// be read. `flags` restricts the value type (RRF_RT_*).
std::optional<std::vector<char>> ReadRegistryValue(std::string key, std::string name,
                                                   uint32_t flags, DebugLog& log,
                                                   Registry& registry);

}  // namespace dormex
