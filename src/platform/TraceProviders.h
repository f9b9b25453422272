#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Guid.h"

namespace dormex {

// Microsoft-Windows-Kernel-Power.
inline constexpr Guid KernelPowerProvider = {
    0x331C3B3A, 0x2005, 0x44C2, {0xAC, 0x5E, 0x77, 0x22, 0x0C, 0x37, 0xD6, 0xB4}};
// Microsoft-Windows-Kernel-Pep.
inline constexpr Guid KernelPepProvider = {
    0x5412704E, 0xB2E1, 0x4624, {0x8F, 0xFD, 0x55, 0x77, 0x7B, 0x8F, 0x73, 0x73}};
// EventTraceGuid: the header event every trace file begins with.
inline constexpr Guid EventTraceGuid = {
    0x68FDD900, 0x4A3E, 0x11D1, {0x84, 0xF4, 0x00, 0x00, 0xF8, 0x04, 0x64, 0xE3}};

// A provider named by its manifest name (the two kernel providers) or by a
// GUID in braces.
inline std::optional<Guid> ProviderGuid(std::string_view nameOrGuid)
{
    if (nameOrGuid == "Microsoft-Windows-Kernel-Power") {
        return KernelPowerProvider;
    }
    if (nameOrGuid == "Microsoft-Windows-Kernel-Pep") {
        return KernelPepProvider;
    }
    if (nameOrGuid.size() != 38 || nameOrGuid.front() != '{') {
        return std::nullopt;
    }
    return ParseGuid(nameOrGuid);
}

// The name ProviderGuid reads back as the same provider.
inline std::string ProviderName(const Guid& provider)
{
    if (provider == KernelPowerProvider) {
        return "Microsoft-Windows-Kernel-Power";
    }
    if (provider == KernelPepProvider) {
        return "Microsoft-Windows-Kernel-Pep";
    }
    return GuidText(provider);
}

}  // namespace dormex
