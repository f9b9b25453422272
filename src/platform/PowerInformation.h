#pragma once

#include <cstdint>

namespace dormex {

// POWER_INFORMATION_LEVEL SystemPowerCapabilities and the size of
// SYSTEM_POWER_CAPABILITIES; AoAc is the byte at offset 20.
inline constexpr int32_t SystemPowerCapabilities = 4;
inline constexpr uint32_t SystemPowerCapabilitiesSize = 76;
inline constexpr uint32_t SystemPowerCapabilitiesAoAcOffset = 20;

class PowerInformation {
public:
    virtual ~PowerInformation() = default;

    // CallNtPowerInformation: returns an NTSTATUS, 0 on success.
    virtual int32_t CallNtPowerInformation(int32_t level, const void* input, uint32_t inputSize,
                                           void* output, uint32_t outputSize) = 0;
};

}  // namespace dormex
