#pragma once

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "common/Text.h"
#include "platform/NativeFileSystem.h"

namespace dormex::test {

// The real files, with an environment and a current directory of the test's own.
class TestFileSystem final : public FileSystem {
public:
    std::map<std::string, std::string> Environment;
    std::string CurrentDirectory;

    uint32_t GetEnvironmentVariableA(const std::string& name, char* buffer, uint32_t size) override
    {
        auto entry = Environment.find(name);
        if (entry == Environment.end()) {
            return 0;
        }
        const std::string& value = entry->second;
        if (buffer == nullptr || value.size() + 1 > size) {
            return static_cast<uint32_t>(value.size() + 1);
        }
        std::memcpy(buffer, value.c_str(), value.size() + 1);
        return static_cast<uint32_t>(value.size());
    }
    uint32_t GetFileAttributesA(const std::string& path) override
    {
        return real_->GetFileAttributesA(NativePath(path));
    }
    uint32_t GetFileAttributesW(const std::u16string& path) override
    {
        return GetFileAttributesA(Utf16ToUtf8(path));
    }
    uint32_t GetCurrentDirectoryA(uint32_t size, char* buffer) override
    {
        if (buffer == nullptr || CurrentDirectory.size() + 1 > size) {
            return static_cast<uint32_t>(CurrentDirectory.size() + 1);
        }
        std::memcpy(buffer, CurrentDirectory.c_str(), CurrentDirectory.size() + 1);
        return static_cast<uint32_t>(CurrentDirectory.size());
    }
    bool DeleteFileA(const std::string& path) override
    {
        return real_->DeleteFileA(NativePath(path));
    }
    int Stat(const std::string& path) override { return real_->Stat(NativePath(path)); }
    // Relative paths resolve against CurrentDirectory.
    std::string NativePath(const std::string& path) override
    {
        std::string native = real_->NativePath(path);
        if (!native.empty() && !std::filesystem::path(native).is_absolute()) {
            return CurrentDirectory + "/" + native;
        }
        return native;
    }

private:
    std::unique_ptr<FileSystem> real_ = MakeNativeFileSystem();
};

}  // namespace dormex::test
