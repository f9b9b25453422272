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

inline constexpr std::string_view KernelPowerName = "Microsoft-Windows-Kernel-Power";
inline constexpr std::string_view KernelPepName = "Microsoft-Windows-Kernel-Pep";

// A provider named by its manifest name (the two kernel providers) or by a
// GUID in braces.
inline std::optional<Guid> ProviderGuid(std::string_view nameOrGuid)
{
    if (nameOrGuid == KernelPowerName) {
        return KernelPowerProvider;
    }
    if (nameOrGuid == KernelPepName) {
        return KernelPepProvider;
    }
    if (nameOrGuid.size() != 38 || nameOrGuid.front() != '{') {
        return std::nullopt;
    }
    return ParseGuid(nameOrGuid);
}

// The manifest name of a kernel provider; empty for any other, which
// ProviderGuid reads by its GuidText.
constexpr std::string_view KernelProviderName(const Guid& provider)
{
    return provider == KernelPowerProvider ? KernelPowerName
           : provider == KernelPepProvider ? KernelPepName
                                           : std::string_view();
}

}  // namespace dormex
