#pragma once

#include <array>
#include <cstdint>

namespace dormex {

// The layout of the Windows GUID structure.
struct Guid {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    std::array<uint8_t, 8> Data4{};

    friend bool operator==(const Guid&, const Guid&) = default;
};

}  // namespace dormex
