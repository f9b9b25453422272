#pragma once

#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/PowerInformation.h"
#include "platform/Registry.h"
#include "platform/Security.h"

namespace dormex {

class Win32Registry final : public Registry {
public:
    uint32_t GetValue(const std::string& key, const std::string& name, uint32_t flags, void* data,
                      uint32_t* size) override;
};

class Win32PowerInformation final : public PowerInformation {
public:
    int32_t CallNtPowerInformation(int32_t level, const void* input, uint32_t inputSize,
                                   void* output, uint32_t outputSize) override;
};

class Win32Security final : public Security {
public:
    bool AllocateAndInitializeSid(const std::array<uint8_t, 6>& authority,
                                  uint8_t subAuthorityCount,
                                  const std::array<uint32_t, 8>& subAuthorities,
                                  SidHandle* sid) override;
    bool CheckTokenMembership(SidHandle sid, bool* isMember) override;
    void FreeSid(SidHandle sid) override;
};

class Win32FileSystem final : public FileSystem {
public:
    uint32_t GetEnvironmentVariable(const std::string& name, char* buffer, uint32_t size) override;
    uint32_t GetFileAttributes(const std::string& path) override;
    uint32_t GetFileAttributesW(const std::u16string& path) override;
    uint32_t GetCurrentDirectory(uint32_t size, char* buffer) override;
    bool DeleteFile(const std::string& path) override;
    int Stat(const std::string& path) override;
    std::string NativePath(const std::string& path) override;
};

// The live machine's services.
class Win32Machine {
public:
    Platform PlatformWith(FileSystem& files, Console& console)
    {
        return Platform{registry_, power_, security_, files, console};
    }

private:
    Win32Registry registry_;
    Win32PowerInformation power_;
    Win32Security security_;
};

}  // namespace dormex
