// <windows.h> comes before every other Windows header.
#include <windows.h>

#include <powrprof.h>

#include "platform/win32/Win32Machine.h"

namespace dormex {

static_assert(sizeof(SYSTEM_POWER_CAPABILITIES) == SystemPowerCapabilitiesSize);

uint32_t Win32Registry::GetValue(const std::string& key, const std::string& name, uint32_t flags,
                                 void* data, uint32_t* size)
{
    DWORD bytes = size != nullptr ? *size : 0;
    LSTATUS status = ::RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), flags, nullptr,
                                    data, size != nullptr ? &bytes : nullptr);
    if (size != nullptr) {
        *size = bytes;
    }
    return static_cast<uint32_t>(status);
}

int32_t Win32PowerInformation::CallNtPowerInformation(int32_t level, const void* input,
                                                      uint32_t inputSize, void* output,
                                                      uint32_t outputSize)
{
    return ::CallNtPowerInformation(static_cast<POWER_INFORMATION_LEVEL>(level),
                                    const_cast<void*>(input), inputSize, output, outputSize);
}

bool Win32Security::AllocateAndInitializeSid(const std::array<uint8_t, 6>& authority,
                                             uint8_t subAuthorityCount,
                                             const std::array<uint32_t, 8>& subAuthorities,
                                             SidHandle* sid)
{
    SID_IDENTIFIER_AUTHORITY identifierAuthority{};
    for (size_t i = 0; i < authority.size(); ++i) {
        identifierAuthority.Value[i] = authority[i];
    }
    PSID allocated = nullptr;
    BOOL ok = ::AllocateAndInitializeSid(&identifierAuthority, subAuthorityCount, subAuthorities[0],
                                         subAuthorities[1], subAuthorities[2], subAuthorities[3],
                                         subAuthorities[4], subAuthorities[5], subAuthorities[6],
                                         subAuthorities[7], &allocated);
    *sid = allocated;
    return ok != FALSE;
}

bool Win32Security::CheckTokenMembership(SidHandle sid, bool* isMember)
{
    BOOL member = FALSE;
    if (!::CheckTokenMembership(nullptr, sid, &member)) {
        return false;
    }
    *isMember = member != FALSE;
    return true;
}

void Win32Security::FreeSid(SidHandle sid)
{
    ::FreeSid(sid);
}

}  // namespace dormex
