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
    // A file that is there is written over where it stands and cut to its
    // new size after, rather than cut to nothing first: ext4, XFS and btrfs
    // write a file cut to nothing back to disk as soon as it is closed, and
    // that takes longer than writing it. A link is written through, as
    // before, and what the file holds after is what `write` wrote; only a
    // process killed halfway leaves the old file's rest after the new text.
    std::error_code error;
    std::fstream file;
    if (std::filesystem::is_regular_file(path, error)) {
        file.open(path, std::ios::binary | std::ios::in | std::ios::out);
    }
    const bool inPlace = file.is_open();
    if (!inPlace) {
        file.open(path, std::ios::binary | std::ios::out | std::ios::trunc);
    }
    if (file.is_open()) {
        write(file);
    }
    const std::streamoff size = file.tellp();
    file.close();
    if (inPlace) {
        // Cut to nothing when the writing failed, as it would have started.
        const bool wrote = !file.fail() && size >= 0;
        std::filesystem::resize_file(path, wrote ? static_cast<uintmax_t>(size) : 0, error);
        return wrote && !error;
    }
    return !file.fail();
}

}  // namespace dormex
