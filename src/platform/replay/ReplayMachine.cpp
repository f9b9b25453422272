#include "platform/replay/ReplayMachine.h"

#include <cstring>

#include "common/Bytes.h"
#include "common/StatusCodes.h"
#include "common/Text.h"
#include "platform/snapshot/Answers.h"

namespace dormex {

namespace {

constexpr int32_t StatusInvalidParameter = static_cast<int32_t>(0xC000000D);
constexpr int32_t StatusBufferTooSmall = static_cast<int32_t>(0xC0000023);

}  // namespace

uint32_t ReplayRegistry::GetValue(const std::string& key, const std::string& name, uint32_t flags,
                                  void* data, uint32_t* size)
{
    interruption_.Reached("RegGetValueA");
    auto keyEntry = snapshot_.Registry.find(RegistryKeyLookupName(key));
    if (keyEntry == snapshot_.Registry.end()) {
        return ErrorFileNotFound;
    }
    auto valueEntry = keyEntry->second.find(AsciiLower(name));
    if (valueEntry == keyEntry->second.end()) {
        return ErrorFileNotFound;
    }
    RegistryAnswer answer = RegistryAnswerOf(valueEntry->second);
    if ((flags & answer.TypeFlag) == 0) {
        return ErrorUnsupportedType;
    }
    const std::vector<uint8_t>& bytes = answer.Data;
    uint32_t needed = static_cast<uint32_t>(bytes.size());
    if (data == nullptr) {
        if (size != nullptr) {
            *size = needed;
        }
        return 0;
    }
    if (size == nullptr || *size < needed) {
        if (size != nullptr) {
            *size = needed;
        }
        return ErrorMoreData;
    }
    CopyBytes(data, bytes.data(), bytes.size());
    *size = needed;
    return 0;
}

int32_t ReplayPowerInformation::CallNtPowerInformation(int32_t level, const void*, uint32_t,
                                                       void* output, uint32_t outputSize)
{
    if (snapshot_.PowerStatus) {
        return *snapshot_.PowerStatus;
    }
    if (level != SystemPowerCapabilities || output == nullptr) {
        return StatusInvalidParameter;
    }
    if (outputSize < snapshot_.PowerCapabilities.size()) {
        return StatusBufferTooSmall;
    }
    WritePowerCapabilities(snapshot_, {static_cast<uint8_t*>(output), outputSize});
    return 0;
}

bool ReplaySecurity::AllocateAndInitializeSid(const std::array<uint8_t, 6>&, uint8_t,
                                              const std::array<uint32_t, 8>& subAuthorities,
                                              SidHandle* sid)
{
    administrators_ = subAuthorities;
    *sid = &administrators_;
    return true;
}

bool ReplaySecurity::CheckTokenMembership(SidHandle sid, bool* isMember)
{
    if (sid != &administrators_) {
        return false;
    }
    *isMember = snapshot_.Administrator;
    return true;
}

void ReplaySecurity::FreeSid(SidHandle) {}

}  // namespace dormex
