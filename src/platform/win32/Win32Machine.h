#pragma once

#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/PowerInformation.h"
#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/win32/Win32Devices.h"
#include "platform/win32/Win32Trace.h"

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

// The live machine's services beside the given files.
class Win32Machine {
public:
    explicit Win32Machine(FileSystem& files) : files_(files) {}

    Platform PlatformWith(Console& console, Interruption& interruption)
    {
        return PlatformOf(services_, files_, console, interruption);
    }

private:
    struct Services {
        Win32Registry registry;
        Win32PowerInformation power;
        Win32Security security;
        Win32EventTraceController traceController;
        Win32EventTraceConsumer traceConsumer;
        Win32Tdh tdh;
        Win32DeviceManager deviceManager;
        Win32FirmwareTables firmwareTables;
        Win32DeviceIo deviceIo;
    };

    FileSystem& files_;
    Services services_;
};

}  // namespace dormex
