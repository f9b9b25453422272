#pragma once

#include "platform/Interruption.h"
#include "platform/PowerInformation.h"
#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/record/Recording.h"

namespace dormex {

// The identification services, passed through and kept.
class RecordingRegistry final : public Registry {
public:
    RecordingRegistry(Registry& inner, Recording& recording) : inner_(inner), recording_(recording)
    {
    }
    uint32_t GetValue(const std::string& key, const std::string& name, uint32_t flags, void* data,
                      uint32_t* size) override;

private:
    Registry& inner_;
    Recording& recording_;
};

class RecordingPowerInformation final : public PowerInformation {
public:
    RecordingPowerInformation(PowerInformation& inner, Recording& recording)
        : inner_(inner), recording_(recording)
    {
    }
    int32_t CallNtPowerInformation(int32_t level, const void* input, uint32_t inputSize,
                                   void* output, uint32_t outputSize) override;

private:
    PowerInformation& inner_;
    Recording& recording_;
};

class RecordingSecurity final : public Security {
public:
    RecordingSecurity(Security& inner, Recording& recording) : inner_(inner), recording_(recording)
    {
    }
    bool AllocateAndInitializeSid(const std::array<uint8_t, 6>& authority,
                                  uint8_t subAuthorityCount,
                                  const std::array<uint32_t, 8>& subAuthorities,
                                  SidHandle* sid) override;
    bool CheckTokenMembership(SidHandle sid, bool* isMember) override;
    void FreeSid(SidHandle sid) override { inner_.FreeSid(sid); }

private:
    Security& inner_;
    Recording& recording_;
};

class RecordingInterruption final : public Interruption {
public:
    explicit RecordingInterruption(Recording& recording) : recording_(recording) {}
    bool Requested() override
    {
        const bool requested = recording_.RunInterruption.Requested();
        recording_.NoteInterruption(requested);
        return requested;
    }
    void Sleep(uint32_t milliseconds) override
    {
        recording_.Interruptible("Sleep", [&] {
            recording_.RunInterruption.Sleep(milliseconds);
            return 0;
        });
    }

private:
    Recording& recording_;
};

}  // namespace dormex
