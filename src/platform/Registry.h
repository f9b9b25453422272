#pragma once

#include <cstdint>
#include <string>

namespace dormex {

// Type-restriction flags of RegGetValueA.
inline constexpr uint32_t RegistryTypeSz = 0x00000002;
inline constexpr uint32_t RegistryTypeBinary = 0x00000008;
inline constexpr uint32_t RegistryTypeDword = 0x00000010;

// The registry below HKEY_LOCAL_MACHINE.
class Registry {
public:
    virtual ~Registry() = default;

    // RegGetValueA(HKEY_LOCAL_MACHINE, key, name, flags, nullptr, data, size).
    // With data == nullptr, *size receives the size needed. Returns a Windows
    // error code, 0 on success (ERROR_MORE_DATA when *size is too small).
    virtual uint32_t GetValue(const std::string& key, const std::string& name, uint32_t flags,
                              void* data, uint32_t* size) = 0;
};

}  // namespace dormex
