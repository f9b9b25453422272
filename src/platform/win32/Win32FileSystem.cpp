#define WIN32_LEAN_AND_MEAN
#define NOGDI
#include <sys/stat.h>
#include <windows.h>

#include "platform/NativeFileSystem.h"
#include "platform/win32/Win32FileSystem.h"

namespace dormex {

uint32_t Win32FileSystem::GetEnvironmentVariable(const std::string& name, char* buffer,
                                                 uint32_t size)
{
    return ::GetEnvironmentVariableA(name.c_str(), buffer, size);
}

uint32_t Win32FileSystem::GetFileAttributes(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str());
}

uint32_t Win32FileSystem::GetFileAttributesW(const std::u16string& path)
{
    return ::GetFileAttributesW(reinterpret_cast<const wchar_t*>(path.c_str()));
}

uint32_t Win32FileSystem::GetCurrentDirectory(uint32_t size, char* buffer)
{
    return ::GetCurrentDirectoryA(size, buffer);
}

bool Win32FileSystem::DeleteFile(const std::string& path)
{
    return ::DeleteFileA(path.c_str()) != FALSE;
}

int Win32FileSystem::Stat(const std::string& path)
{
    struct _stat64 status {};
    return ::_stat64(path.c_str(), &status);
}

std::string Win32FileSystem::NativePath(const std::string& path)
{
    return path;
}

std::unique_ptr<FileSystem> MakeNativeFileSystem()
{
    return std::make_unique<Win32FileSystem>();
}

}  // namespace dormex
