#include "sysinfo/SystemInfo.h"

#include "common/Memory.h"
#include "common/StatusCodes.h"
#include "common/Text.h"
#include "log/DebugLog.h"
#include "platform/Platform.h"

namespace dormex {

namespace {

// A REG_SZ value as text, or nothing.
std::optional<std::string> ReadRegistryText(const char* key, const char* name, DebugLog& log,
                                            Registry& registry)
{
    auto buffer = ReadRegistryValue(key, name, RegistryTypeSz, log, registry);
    if (!buffer) {
        return std::nullopt;
    }
    return TextUpToZero(*buffer);
}

}  // namespace

std::string OsName(const SystemInfo& info)
{
    if (info.OsIndex < 0 || static_cast<size_t>(info.OsIndex) >= info.OsNames.size()) {
        return {};
    }
    return info.OsNames[static_cast<size_t>(info.OsIndex)];
}

int32_t ReadSystemInfo(SystemInfo& info, DebugLog& log, Platform& platform)
{
    if (int32_t status = ReadAoAc(info, log, platform.power); status != 0) {
        log.WriteLog(LogLevel::UserInfo, "Cannot read AoAc bit.", status);
        return status;
    }
    if (int32_t status = ReadCpuInfo(info, log, platform.registry); status != 0) {
        log.WriteLog(LogLevel::UserInfo,
                     std::string("Cannot set CPU Information, please check your registry here: ") +
                         ProcessorKey + "with Identifier keyword",
                     status);
        return status;
    }
    if (int32_t status = ReadOsInfo(info, log, platform.registry); status != 0) {
        log.WriteLog(LogLevel::UserInfo,
                     std::string("Cannot set OS Information, please check Windows OS version you "
                                 "are running in registry here: ") +
                         CurrentVersionKey,
                     status);
        return status;
    }
    if (int32_t status = ReadBiosInfo(info, log, platform.registry); status != 0) {
        log.WriteLog(LogLevel::UserInfo,
                     std::string("Cannot read BIOS information, please check your BIOS code for "
                                 "version, vendor name & release date in registry here: ") +
                         BiosKey,
                     status);
        return status;
    }
    ReadMachineName(info, platform.registry);
    if (!ReadUserProfile(info, log, platform.files)) {
        log.WriteLog(LogLevel::UserInfo,
                     "Cannot set user profile. This stops VQT from storing files in a location. "
                     "Please check if user profile is avalible",
                     UserProfileUnreadable);
        return UserProfileUnreadable;
    }
    return 0;
}

bool ReadUserProfile(SystemInfo& info, DebugLog& log, FileSystem& files)
{
    uint32_t size = files.GetEnvironmentVariableA("USERPROFILE", nullptr, 0);
    if (size == 0) {
        log.WriteLog(LogLevel::Error, "User profile cannot be accessed", 0);
        return false;
    }
    auto buffer = TryAllocate(size);
    if (!buffer) {
        log.ShowConsoleMessage("Memory allocation failed for user profile.",
                               AsStatus(ErrorNotEnoughMemory));
        return false;
    }
    if (files.GetEnvironmentVariableA("USERPROFILE", buffer->data(), size) == 0) {
        log.WriteLog(LogLevel::Error, "Cannot get User profile.", 0);
        return false;
    }
    info.UserProfile = TextUpToZero(*buffer);
    log.WriteLog(LogLevel::Information, "User Profile: " + info.UserProfile, 0);
    return true;
}

int32_t ReadAoAc(SystemInfo& info, DebugLog& log, PowerInformation& power)
{
    uint8_t capabilities[SystemPowerCapabilitiesSize] = {};
    int32_t status = power.CallNtPowerInformation(SystemPowerCapabilities, nullptr, 0, capabilities,
                                                  sizeof capabilities);
    if (status != 0) {
        log.WriteLog(LogLevel::Error, "AoAc information cannot be obtained.", status);
        return status;
    }
    info.AoAc = capabilities[SystemPowerCapabilitiesAoAcOffset] != 0;
    log.WriteLog(LogLevel::Information, std::string("AoAc Bit: ") + (info.AoAc ? "1" : "0"), 0);
    return 0;
}

int32_t ReadCpuInfo(SystemInfo& info, DebugLog& log, Registry& registry)
{
    auto identifier = ReadRegistryText(ProcessorKey, "Identifier", log, registry);
    if (!identifier) {
        log.WriteLog(LogLevel::Error, "CPU Information cannot be obtained.",
                     RegistryValueUnreadable);
        return RegistryValueUnreadable;
    }
    // "<architecture> Family <f> Model <m> Stepping <s>": the label words are
    // not compared, only their positions count.
    std::vector<std::string> words = SplitWords(*identifier);
    if (words.size() > 0) {
        info.CpuArchitecture = words[0];
    }
    if (words.size() > 2) {
        info.CpuFamily = ReadDecimal(words[2]);
    }
    if (words.size() > 4) {
        info.CpuModel = ReadDecimal(words[4]);
    }
    if (words.size() > 6) {
        info.CpuStepping = ReadDecimal(words[6]);
    }
    log.WriteLog(LogLevel::Information, "CPU Arch: " + info.CpuArchitecture, 0);
    log.WriteLog(LogLevel::Information, "CPU Family Name: " + std::to_string(info.CpuFamily), 0);
    log.WriteLog(LogLevel::Information, "CPU Model: " + std::to_string(info.CpuModel), 0);
    log.WriteLog(LogLevel::Information, "CPU Stepping: " + std::to_string(info.CpuStepping), 0);
    return 0;
}

int32_t ReadOsInfo(SystemInfo& info, DebugLog& log, Registry& registry)
{
    auto build = ReadRegistryText(CurrentVersionKey, "CurrentBuildNumber", log, registry);
    if (!build) {
        log.WriteLog(LogLevel::Error, "OS Build cannot be obtained.", RegistryValueUnreadable);
        return RegistryValueUnreadable;
    }
    info.OsBuild = *build;
    info.OsIndex = 0;
    log.WriteLog(LogLevel::Information, "OsBuild: " + info.OsBuild, 0);
    return 0;
}

int32_t ReadBiosInfo(SystemInfo& info, DebugLog& log, Registry& registry)
{
    struct BiosValue {
        const char* name;
        std::string SystemInfo::*field;
        const char* failure;
    };
    static constexpr BiosValue values[] = {
        {"biosversion", &SystemInfo::BiosVersion, "Bios Version cannot be obtained."},
        {"biosvendor", &SystemInfo::BiosVendor, "Bios Vendor cannot be obtained."},
        {"biosreleasedate", &SystemInfo::BiosReleaseDate, "Bios release date cannot be obtained."},
    };
    for (const BiosValue& value : values) {
        auto text = ReadRegistryText(BiosKey, value.name, log, registry);
        if (!text) {
            log.WriteLog(LogLevel::Error, value.failure, RegistryValueUnreadable);
            return RegistryValueUnreadable;
        }
        info.*value.field = *text;
    }
    log.WriteLog(LogLevel::Information, "Bios Version: " + info.BiosVersion, 0);
    log.WriteLog(LogLevel::Information, "Bios Vendor: " + info.BiosVendor, 0);
    log.WriteLog(LogLevel::Information, "Bios Release Date: " + info.BiosReleaseDate, 0);
    return 0;
}

void ReadMachineName(SystemInfo& info, Registry& registry)
{
    const std::pair<const char*, std::string SystemInfo::*> values[] = {
        {"systemmanufacturer", &SystemInfo::Manufacturer},
        {"systemproductname", &SystemInfo::ProductName},
    };
    for (const auto& [name, field] : values) {
        uint32_t size = 0;
        registry.GetValue(BiosKey, name, RegistryTypeSz, nullptr, &size);
        auto buffer = size != 0 ? TryAllocate(size) : std::nullopt;
        if (buffer &&
            registry.GetValue(BiosKey, name, RegistryTypeSz, buffer->data(), &size) == 0) {
            if (std::string text = TextUpToZero(*buffer); !text.empty()) {
                info.*field = std::move(text);
            }
        }
    }
}

std::optional<std::vector<char>> ReadRegistryValue(std::string key, std::string name,
                                                   uint32_t flags, DebugLog& log,
                                                   Registry& registry)
{
    uint32_t size = 0;
    uint32_t status = registry.GetValue(key, name, flags, nullptr, &size);
    if (size == 0) {
        log.WriteLog(LogLevel::Error, "Registry value cannot be obtained subKey: " + key,
                     AsStatus(status));
        return std::nullopt;
    }
    auto buffer = TryAllocate(size);
    if (!buffer) {
        log.WriteLog(LogLevel::Error, "Memory allocation failed for user profile.",
                     AsStatus(ErrorNotEnoughMemory));
        return std::nullopt;
    }
    status = registry.GetValue(key, name, flags, buffer->data(), &size);
    if (status != 0) {
        log.WriteLog(LogLevel::Information,
                     "RegGetValueA returned with Error_Status: ", AsStatus(status));
        return std::nullopt;
    }
    buffer->resize(size);
    return buffer;
}

}  // namespace dormex
