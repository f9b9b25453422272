#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace dormex {

// Little-endian numbers in the byte images the platform hands over. A read
// that runs past the end counts the missing bytes as 0, and a write drops the
// bytes that do not fit, so a short or bogus image cannot be read or written
// out of bounds.

inline uint64_t ReadLittleEndian(std::span<const uint8_t> bytes, size_t offset, size_t width)
{
    uint64_t value = 0;
    for (size_t i = 0; i < width && i < 8 && offset < bytes.size() && i < bytes.size() - offset;
         ++i) {
        value |= uint64_t{bytes[offset + i]} << (8 * i);
    }
    return value;
}

inline uint8_t ReadU8(std::span<const uint8_t> bytes, size_t offset)
{
    return static_cast<uint8_t>(ReadLittleEndian(bytes, offset, 1));
}

inline uint16_t ReadU16(std::span<const uint8_t> bytes, size_t offset)
{
    return static_cast<uint16_t>(ReadLittleEndian(bytes, offset, 2));
}

inline uint32_t ReadU32(std::span<const uint8_t> bytes, size_t offset)
{
    return static_cast<uint32_t>(ReadLittleEndian(bytes, offset, 4));
}

inline uint64_t ReadU64(std::span<const uint8_t> bytes, size_t offset)
{
    return ReadLittleEndian(bytes, offset, 8);
}

inline void WriteLittleEndian(std::span<uint8_t> bytes, size_t offset, uint64_t value, size_t width)
{
    for (size_t i = 0; i < width && i < 8 && offset < bytes.size() && i < bytes.size() - offset;
         ++i) {
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

inline void WriteU16(std::span<uint8_t> bytes, size_t offset, uint16_t value)
{
    WriteLittleEndian(bytes, offset, value, 2);
}

inline void WriteU32(std::span<uint8_t> bytes, size_t offset, uint32_t value)
{
    WriteLittleEndian(bytes, offset, value, 4);
}

// memcpy for byte strings that may be empty: an empty vector's data() may be
// null, which memcpy may not be handed even to copy nothing.
inline void CopyBytes(void* destination, const void* source, size_t count)
{
    if (count != 0) {
        std::memcpy(destination, source, count);
    }
}

// The four bytes of `value`, low byte first.
inline std::array<uint8_t, 4> U32Bytes(uint32_t value)
{
    std::array<uint8_t, 4> bytes{};
    WriteU32(bytes, 0, value);
    return bytes;
}

}  // namespace dormex
