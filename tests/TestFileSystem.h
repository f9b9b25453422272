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
    std::string ModuleFile;

    uint32_t GetEnvironmentVariableA(const std::string& name, char* buffer, uint32_t size) override
    {
        auto entry = Environment.find(name);
        return entry != Environment.end() ? CopyOut(entry->second, buffer, size) : 0;
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
        return CopyOut(CurrentDirectory, buffer, size);
    }
    bool DeleteFileA(const std::string& path) override
    {
        return real_->DeleteFileA(NativePath(path));
    }
    int Stat(const std::string& path) override { return real_->Stat(NativePath(path)); }
    std::string ModuleFileName() override { return ModuleFile; }
    // Relative paths resolve against CurrentDirectory.
    std::string NativePath(const std::string& path) override
    {
        std::string native = real_->NativePath(path);
        if (!native.empty() && !std::filesystem::path(native).is_absolute()) {
            return CurrentDirectory + "/" + native;
        }
        return native;
    }
    bool WriteFileFrom(const std::string& path,
                       const std::function<void(std::ostream&)>& write) override
    {
        return real_->WriteFileFrom(path, write);
    }

private:
    // As the ...A calls copy text out: the size needed (with the terminator)
    // when it does not fit, else the length copied.
    static uint32_t CopyOut(const std::string& text, char* buffer, uint32_t size)
    {
        if (buffer == nullptr || text.size() + 1 > size) {
            return static_cast<uint32_t>(text.size() + 1);
        }
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return static_cast<uint32_t>(text.size());
    }

    std::unique_ptr<FileSystem> real_ = MakeNativeFileSystem();
};

}  // namespace dormex::test
