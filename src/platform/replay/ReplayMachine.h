#pragma once

#include <string>

#include "platform/Platform.h"
#include "platform/PowerInformation.h"
#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/replay/ReplayDevices.h"
#include "platform/replay/ReplayTrace.h"
#include "platform/snapshot/MachineSnapshot.h"

namespace dormex {

class ReplayRegistry final : public Registry {
public:
    ReplayRegistry(const MachineSnapshot& snapshot, ReplayInterruption& interruption)
        : snapshot_(snapshot), interruption_(interruption)
    {
    }
    uint32_t GetValue(const std::string& key, const std::string& name, uint32_t flags, void* data,
                      uint32_t* size) override;

private:
    const MachineSnapshot& snapshot_;
    ReplayInterruption& interruption_;
};

class ReplayPowerInformation final : public PowerInformation {
public:
    explicit ReplayPowerInformation(const MachineSnapshot& snapshot) : snapshot_(snapshot) {}
    int32_t CallNtPowerInformation(int32_t level, const void* input, uint32_t inputSize,
                                   void* output, uint32_t outputSize) override;

private:
    const MachineSnapshot& snapshot_;
};

class ReplaySecurity final : public Security {
public:
    explicit ReplaySecurity(const MachineSnapshot& snapshot) : snapshot_(snapshot) {}
    bool AllocateAndInitializeSid(const std::array<uint8_t, 6>& authority,
                                  uint8_t subAuthorityCount,
                                  const std::array<uint32_t, 8>& subAuthorities,
                                  SidHandle* sid) override;
    bool CheckTokenMembership(SidHandle sid, bool* isMember) override;
    void FreeSid(SidHandle sid) override;

private:
    const MachineSnapshot& snapshot_;
    std::array<uint32_t, 8> administrators_{};  // the one identifier handed out
};

// Every replayed service of one machine snapshot; files and the console stay
// the real ones, and the console's interruptions count beside the snapshot's.
class ReplayMachine {
public:
    ReplayMachine(MachineSnapshot snapshot, FileSystem& files)
        : snapshot_(std::move(snapshot)), files_(files), services_(snapshot_, files)
    {
    }
    ReplayMachine(const ReplayMachine&) = delete;
    ReplayMachine& operator=(const ReplayMachine&) = delete;

    const MachineSnapshot& Snapshot() const { return snapshot_; }

    Platform PlatformWith(Console& console)
    {
        return PlatformOf(services_, files_, console, services_.interruption);
    }
    // With the console's own interruptions beside the snapshot's.
    Platform PlatformWith(Console& console, Interruption& consoleInterruption)
    {
        services_.interruption.Beside(&consoleInterruption);
        return PlatformWith(console);
    }

private:
    struct Services {
        Services(const MachineSnapshot& snapshot, FileSystem& files)
            : interruption(snapshot),
              registry(snapshot, interruption),
              power(snapshot),
              security(snapshot),
              traceController(snapshot, files),
              traceConsumer(snapshot, files, interruption),
              deviceManager(snapshot, interruption),
              firmwareTables(snapshot, interruption),
              deviceIo(snapshot)
        {
        }
        ReplayInterruption interruption;
        ReplayRegistry registry;
        ReplayPowerInformation power;
        ReplaySecurity security;
        ReplayEventTraceController traceController;
        ReplayEventTraceConsumer traceConsumer;
        ReplayTdh tdh;
        ReplayDeviceManager deviceManager;
        ReplayFirmwareTables firmwareTables;
        ReplayDeviceIo deviceIo;
    };

    MachineSnapshot snapshot_;
    FileSystem& files_;
    Services services_;
};

}  // namespace dormex
