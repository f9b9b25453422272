#pragma once

#include "platform/FileSystem.h"

namespace dormex {

// Files and the environment on a POSIX system. Program paths turn into native
// ones by replacing every backslash with a slash; USERPROFILE falls back to HOME.
class PosixFileSystem final : public FileSystem {
public:
    uint32_t GetEnvironmentVariableA(const std::string& name, char* buffer, uint32_t size) override;
    uint32_t GetFileAttributesA(const std::string& path) override;
    uint32_t GetFileAttributesW(const std::u16string& path) override;
    uint32_t GetCurrentDirectoryA(uint32_t size, char* buffer) override;
    bool DeleteFileA(const std::string& path) override;
    int Stat(const std::string& path) override;
    std::string ModuleFileName() override;
    std::string NativePath(const std::string& path) override;
    bool WriteFileFrom(const std::string& path,
                       const std::function<void(std::ostream&)>& write) override;
};

}  // namespace dormex
