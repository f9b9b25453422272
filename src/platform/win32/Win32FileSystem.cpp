// <windows.h> comes before every other Windows header.
#include <windows.h>

#include <sys/stat.h>

#include <fstream>

#include "common/Text.h"
#include "platform/NativeFileSystem.h"
#include "platform/win32/Win32FileSystem.h"

namespace dormex {

uint32_t Win32FileSystem::GetEnvironmentVariableA(const std::string& name, char* buffer,
                                                  uint32_t size)
{
    return ::GetEnvironmentVariableA(name.c_str(), buffer, size);
}

uint32_t Win32FileSystem::GetFileAttributesA(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str());
}

uint32_t Win32FileSystem::GetFileAttributesW(const std::u16string& path)
{
    return ::GetFileAttributesW(reinterpret_cast<const wchar_t*>(path.c_str()));
}

uint32_t Win32FileSystem::GetCurrentDirectoryA(uint32_t size, char* buffer)
{
    return ::GetCurrentDirectoryA(size, buffer);
}

bool Win32FileSystem::DeleteFileA(const std::string& path)
{
    return ::DeleteFileA(path.c_str()) != FALSE;
}

int Win32FileSystem::Stat(const std::string& path)
{
    struct _stat64 status {};
    return ::_stat64(path.c_str(), &status);
}

std::string Win32FileSystem::ModuleFileName()
{
    // The size needed is not told: a cut path fills the whole buffer.
    std::u16string path(MAX_PATH, u'\0');
    while (path.size() <= 32768) {
        DWORD length = ::GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(path.data()),
                                            static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return Utf16ToUtf8(path);
        }
        path.resize(path.size() * 2);
    }
    return {};
}

std::string Win32FileSystem::NativePath(const std::string& path)
{
    return path;
}

std::unique_ptr<FileSystem> MakeNativeFileSystem()
{
    return std::make_unique<Win32FileSystem>();
}

bool Win32FileSystem::WriteWholeFile(const std::string& path, std::string_view contents)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    file.close();
    return !file.fail();
}

}  // namespace dormex
