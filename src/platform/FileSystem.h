#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

namespace dormex {

inline constexpr uint32_t InvalidFileAttributes = 0xFFFFFFFF;
inline constexpr uint32_t FileAttributeDirectory = 0x10;
inline constexpr uint32_t FileAttributeNormal = 0x80;

// Whether GetFileAttributes answered for a folder.
inline bool IsDirectory(uint32_t attributes)
{
    return attributes != InvalidFileAttributes && (attributes & FileAttributeDirectory) != 0;
}

// Files and the environment. Program paths use backslashes as a Windows user
// sees them; NativePath turns one into a path the C++ streams can open.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // GetEnvironmentVariableA: with a buffer too small (or null and size 0)
    // returns the size needed including the terminator; otherwise the number
    // of characters copied. 0 when the variable does not exist.
    virtual uint32_t GetEnvironmentVariableA(const std::string& name, char* buffer,
                                             uint32_t size) = 0;

    // GetFileAttributesA / GetFileAttributesW: InvalidFileAttributes on failure.
    virtual uint32_t GetFileAttributesA(const std::string& path) = 0;
    virtual uint32_t GetFileAttributesW(const std::u16string& path) = 0;

    // GetCurrentDirectoryA: the length copied, or the size needed when the
    // buffer is too small, 0 on failure.
    virtual uint32_t GetCurrentDirectoryA(uint32_t size, char* buffer) = 0;

    // DeleteFileA.
    virtual bool DeleteFileA(const std::string& path) = 0;

    // stat() on a narrow path: 0 when it exists.
    virtual int Stat(const std::string& path) = 0;

    // GetModuleFileNameW of the running program, as UTF-8: the path of its
    // executable; empty when it cannot be had.
    virtual std::string ModuleFileName() = 0;

    virtual std::string NativePath(const std::string& path) = 0;
    // Replaces the file at the native `path` with what `write` puts into the
    // stream it is given; false when the file cannot be written whole.
    virtual bool WriteFileFrom(const std::string& path,
                               const std::function<void(std::ostream&)>& write) = 0;
};

// Copies text the way the Windows ...A calls do: the size needed (with the
// terminator) when it does not fit, else the length copied.
inline uint32_t CopyOutText(const std::string& text, char* buffer, uint32_t size)
{
    if (buffer == nullptr || text.size() + 1 > size) {
        return static_cast<uint32_t>(text.size() + 1);
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<uint32_t>(text.size());
}

// An environment variable's value; empty when it is not set. A value that
// grew between the two calls is asked for again.
inline std::string EnvironmentValue(FileSystem& files, const std::string& name)
{
    uint32_t size = files.GetEnvironmentVariableA(name, nullptr, 0);
    while (size != 0) {
        std::string buffer(size, '\0');
        const uint32_t length = files.GetEnvironmentVariableA(name, buffer.data(), size);
        if (length < size) {
            buffer.resize(length);
            return buffer;
        }
        size = length;
    }
    return {};
}

}  // namespace dormex
