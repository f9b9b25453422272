#include "platform/posix/PosixFileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/Text.h"
#include "platform/NativeFileSystem.h"

namespace dormex {

uint32_t PosixFileSystem::GetEnvironmentVariableA(const std::string& name, char* buffer,
                                                  uint32_t size)
{
    const char* value = std::getenv(name.c_str());
    if (value == nullptr && name == "USERPROFILE") {
        value = std::getenv("HOME");
    }
    if (value == nullptr) {
        return 0;
    }
    return CopyOutText(value, buffer, size);
}

uint32_t PosixFileSystem::GetFileAttributesA(const std::string& path)
{
    struct stat status {};
    if (::stat(NativePath(path).c_str(), &status) != 0) {
        return InvalidFileAttributes;
    }
    return S_ISDIR(status.st_mode) ? FileAttributeDirectory : FileAttributeNormal;
}

uint32_t PosixFileSystem::GetFileAttributesW(const std::u16string& path)
{
    return GetFileAttributesA(Utf16ToUtf8(path));
}

uint32_t PosixFileSystem::GetCurrentDirectoryA(uint32_t size, char* buffer)
{
    std::vector<char> directory(4096);
    while (::getcwd(directory.data(), directory.size()) == nullptr) {
        if (errno != ERANGE || directory.size() > (1u << 20)) {
            return 0;
        }
        directory.resize(directory.size() * 2);
    }
    return CopyOutText(directory.data(), buffer, size);
}

bool PosixFileSystem::DeleteFileA(const std::string& path)
{
    return ::unlink(NativePath(path).c_str()) == 0;
}

int PosixFileSystem::Stat(const std::string& path)
{
    struct stat status {};
    return ::stat(NativePath(path).c_str(), &status);
}

std::string PosixFileSystem::ModuleFileName()
{
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : program.string();
}

std::string PosixFileSystem::NativePath(const std::string& path)
{
    std::string native = path;
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
}

std::unique_ptr<FileSystem> MakeNativeFileSystem()
{
    return std::make_unique<PosixFileSystem>();
}

bool PosixFileSystem::WriteFileFrom(const std::string& path,
                                    const std::function<void(std::ostream&)>& write)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file.is_open()) {
        write(file);
    }
    file.close();
    return !file.fail();
}

}  // namespace dormex
