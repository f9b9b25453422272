#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "TestFiles.h"
#include "platform/Console.h"

// What the harnesses share: a directory for the files they write and a
// reader that takes the input's bytes in order. (platform/Console.h gives
// them a console that drops everything.)
namespace dormex::fuzz {

// One directory for the whole process, made on first use and removed when
// the fuzzer exits: each input overwrites the files of the one before.
inline const std::filesystem::path& ProcessDirectory()
{
    static const test::TempDir directory;
    return directory.Path();
}

inline std::string_view AsText(const uint8_t* data, size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

// Numbers little-endian; past the end every byte reads as 0.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : bytes_(data, size) {}

    bool AtEnd() const { return offset_ >= bytes_.size(); }
    uint8_t U8() { return AtEnd() ? 0 : bytes_[offset_++]; }
    uint16_t U16()
    {
        uint16_t low = U8();
        return static_cast<uint16_t>(low | U8() << 8);
    }
    uint32_t U32()
    {
        uint32_t low = U16();
        return low | uint32_t{U16()} << 16;
    }
    // Up to `count` bytes, fewer at the end.
    std::vector<uint8_t> Bytes(size_t count)
    {
        std::span<const uint8_t> taken = bytes_.subspan(offset_, std::min(count, Left()));
        offset_ += taken.size();
        return {taken.begin(), taken.end()};
    }

private:
    size_t Left() const { return bytes_.size() - offset_; }

    std::span<const uint8_t> bytes_;
    size_t offset_ = 0;
};

}  // namespace dormex::fuzz
