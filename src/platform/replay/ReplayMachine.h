#pragma once

#include <string>
#include <variant>

#include "platform/Platform.h"
#include "platform/PowerInformation.h"
#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/replay/MachineSnapshot.h"

namespace dormex {

class ReplayRegistry final : public Registry {
public:
    explicit ReplayRegistry(const MachineSnapshot& snapshot) : snapshot_(snapshot) {}
    uint32_t GetValue(const std::string& key, const std::string& name, uint32_t flags, void* data,
                      uint32_t* size) override;

private:
    const MachineSnapshot& snapshot_;
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

// Every replayed service of one machine snapshot.
class ReplayMachine {
public:
    explicit ReplayMachine(MachineSnapshot snapshot)
        : snapshot_(std::move(snapshot)), registry_(snapshot_), power_(snapshot_), security_(snapshot_)
    {
    }
    ReplayMachine(const ReplayMachine&) = delete;
    ReplayMachine& operator=(const ReplayMachine&) = delete;

    const MachineSnapshot& Snapshot() const { return snapshot_; }

    // The replayed services beside the real files and console.
    Platform PlatformWith(FileSystem& files, Console& console)
    {
        return Platform{registry_, power_, security_, files, console};
    }

private:
    MachineSnapshot snapshot_;
    ReplayRegistry registry_;
    ReplayPowerInformation power_;
    ReplaySecurity security_;
};

// A snapshot file read and checked; the error text names the file and the
// JSON path of the offending member.
std::variant<MachineSnapshot, std::string> LoadMachineSnapshot(const std::string& path);

}  // namespace dormex
