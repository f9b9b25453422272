#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dormex {

// The layout of the Windows GUID structure.
struct Guid {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    std::array<uint8_t, 8> Data4{};

    friend bool operator==(const Guid&, const Guid&) = default;
};

// "{01234567-89AB-CDEF-0123-456789ABCDEF}", braces optional, either case.
std::optional<Guid> ParseGuid(std::string_view text);

// "{01234567-89AB-CDEF-0123-456789ABCDEF}", upper case.
std::string GuidText(const Guid& guid);

}  // namespace dormex
