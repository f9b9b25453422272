#pragma once

#include <cstdint>
#include <string>

namespace dormex {

using FileHandle = intptr_t;

inline constexpr FileHandle InvalidFileHandle = -1;
inline constexpr uint32_t GenericReadWrite = 0xC0000000;
inline constexpr uint32_t OpenExisting = 3;
inline constexpr uint32_t IoctlScsiMiniport = 0x0004D008;

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
