#include "sysinfo/Administrator.h"

#include <array>

namespace dormex {

namespace {

// Frees the administrators identifier on every way out.
class SidGuard {
public:
    SidGuard(Security& security, SidHandle sid) : security_(security), sid_(sid) {}
    ~SidGuard() { security_.FreeSid(sid_); }
    SidGuard(const SidGuard&) = delete;
    SidGuard& operator=(const SidGuard&) = delete;

private:
    Security& security_;
    SidHandle sid_;
};

}  // namespace

bool IsAdministrator(Security& security)
{
    SidHandle sid = nullptr;
    const std::array<uint32_t, 8> subAuthorities = {BuiltinDomainRid, AliasRidAdmins};
    if (!security.AllocateAndInitializeSid(NtAuthority, 2, subAuthorities, &sid)) {
        return false;
    }
    SidGuard guard(security, sid);
    bool isMember = false;
    if (!security.CheckTokenMembership(sid, &isMember)) {
        return false;
    }
    return isMember;
}

}  // namespace dormex
