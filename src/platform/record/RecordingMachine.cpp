#include "platform/record/RecordingMachine.h"

#include "common/StatusCodes.h"
#include "common/Text.h"
#include "platform/snapshot/Answers.h"

namespace dormex {

uint32_t RecordingRegistry::GetValue(const std::string& key, const std::string& name,
                                     uint32_t flags, void* data, uint32_t* size)
{
    uint32_t status = recording_.Interruptible(
        "RegGetValueA", [&] { return inner_.GetValue(key, name, flags, data, size); });
    std::optional<SnapshotRegistryValue> value;
    if (status == 0 && data != nullptr && size != nullptr) {
        value = RegistryValueOf(flags, BytesAt(data, *size));
    } else if (status == ErrorUnsupportedType) {
        value = RegistryValueOutside(flags);
    }
    if (value) {
        recording_.Snapshot.Registry[RegistryKeyLookupName(key)][AsciiLower(name)] =
            std::move(*value);
    }
    return status;
}

int32_t RecordingPowerInformation::CallNtPowerInformation(int32_t level, const void* input,
                                                          uint32_t inputSize, void* output,
                                                          uint32_t outputSize)
{
    int32_t status = inner_.CallNtPowerInformation(level, input, inputSize, output, outputSize);
    if (level == SystemPowerCapabilities) {
        MachineSnapshot& snapshot = recording_.Snapshot;
        if (status != 0) {
            snapshot.PowerStatus = status;
        } else if (output != nullptr) {
            snapshot.PowerStatus.reset();
            ReadPowerCapabilities(BytesAt(output, outputSize), snapshot);
        }
    }
    return status;
}

bool RecordingSecurity::AllocateAndInitializeSid(const std::array<uint8_t, 6>& authority,
                                                 uint8_t subAuthorityCount,
                                                 const std::array<uint32_t, 8>& subAuthorities,
                                                 SidHandle* sid)
{
    bool allocated =
        inner_.AllocateAndInitializeSid(authority, subAuthorityCount, subAuthorities, sid);
    if (!allocated) {
        recording_.Snapshot.Administrator = false;  // the check cannot say yes
    }
    return allocated;
}

bool RecordingSecurity::CheckTokenMembership(SidHandle sid, bool* isMember)
{
    bool checked = inner_.CheckTokenMembership(sid, isMember);
    recording_.Snapshot.Administrator = checked && isMember != nullptr && *isMember;
    return checked;
}

}  // namespace dormex
