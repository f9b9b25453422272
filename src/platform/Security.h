#pragma once

#include <array>
#include <cstdint>

namespace dormex {

// An opaque security identifier handed out by AllocateAndInitializeSid.
using SidHandle = void*;

inline constexpr std::array<uint8_t, 6> NtAuthority = {0, 0, 0, 0, 0, 5};
inline constexpr uint32_t BuiltinDomainRid = 32;
inline constexpr uint32_t AliasRidAdmins = 544;

class Security {
public:
    virtual ~Security() = default;

    // AllocateAndInitializeSid with up to eight sub-authorities; the unused
    // ones are 0. Returns false on failure.
    virtual bool AllocateAndInitializeSid(const std::array<uint8_t, 6>& authority,
                                          uint8_t subAuthorityCount,
                                          const std::array<uint32_t, 8>& subAuthorities,
                                          SidHandle* sid) = 0;

    // CheckTokenMembership(nullptr, sid, isMember): the calling thread's token.
    // Returns false when the query itself fails.
    virtual bool CheckTokenMembership(SidHandle sid, bool* isMember) = 0;

    virtual void FreeSid(SidHandle sid) = 0;
};

}  // namespace dormex
