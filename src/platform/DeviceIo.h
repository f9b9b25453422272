#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dormex {

using FileHandle = intptr_t;

inline constexpr FileHandle InvalidFileHandle = -1;
inline constexpr uint32_t GenericReadWrite = 0xC0000000;
inline constexpr uint32_t FileShareReadWrite = 0x3;  // FILE_SHARE_READ | FILE_SHARE_WRITE
inline constexpr uint32_t OpenExisting = 3;
inline constexpr uint32_t IoctlScsiMiniport = 0x0004D008;

// The port number n of a storage port's path, \\.\Scsi<n>: (up to nine
// digits); none for any other path.
inline std::optional<uint32_t> ScsiPortOfPath(std::u16string_view path)
{
    constexpr std::u16string_view prefix = u"\\\\.\\Scsi";
    if (path.size() <= prefix.size() + 1 || path.substr(0, prefix.size()) != prefix ||
        path.back() != u':') {
        return std::nullopt;
    }
    std::u16string_view digits = path.substr(prefix.size(), path.size() - prefix.size() - 1);
    if (digits.size() > 9) {
        return std::nullopt;
    }
    uint32_t number = 0;
    for (char16_t c : digits) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<uint32_t>(c - u'0');
    }
    return number;
}

// Device I/O on kernel device objects.
class DeviceIo {
public:
    virtual ~DeviceIo() = default;

    // CreateFileW without security attributes or template.
    virtual FileHandle CreateFileW(const std::u16string& path, uint32_t desiredAccess,
                                   uint32_t shareMode, uint32_t creationDisposition,
                                   uint32_t flagsAndAttributes) = 0;

    // DeviceIoControl without an overlapped structure; false on failure.
    virtual bool DeviceIoControl(FileHandle handle, uint32_t ioControlCode, const void* input,
                                 uint32_t inputSize, void* output, uint32_t outputSize,
                                 uint32_t* bytesReturned) = 0;

    virtual bool CloseHandle(FileHandle handle) = 0;
};

}  // namespace dormex
