// <windows.h> comes before every other Windows header.
#include <windows.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "common/Text.h"
#include "platform/NativeFileSystem.h"
#include "platform/win32/Win32FileSystem.h"

namespace dormex {

// Read wide and turned into the ANSI code page's bytes, as the ANSI call
// does, but sized in bytes: Wine's ANSI call sizes a value outside ASCII in
// characters when that code page is UTF-8, and cuts it.
uint32_t Win32FileSystem::GetEnvironmentVariableA(const std::string& name, char* buffer,
                                                  uint32_t size)
{
    const std::u16string wideName = Utf8ToUtf16(name);
    const auto* wname = reinterpret_cast<const wchar_t*>(wideName.c_str());
    const DWORD needed = ::GetEnvironmentVariableW(wname, nullptr, 0);
    if (needed == 0) {
        return 0;
    }
    std::wstring value(needed, L'\0');
    ::SetLastError(ERROR_SUCCESS);
    const DWORD got = ::GetEnvironmentVariableW(wname, value.data(), needed);
    if (got >= needed || (got == 0 && ::GetLastError() != ERROR_SUCCESS)) {
        return 0;
    }
    const int bytes = ::WideCharToMultiByte(CP_ACP, 0, value.data(), static_cast<int>(got), nullptr,
                                            0, nullptr, nullptr);
    std::string text(static_cast<size_t>(std::max(bytes, 0)), '\0');
    if (bytes > 0) {
        ::WideCharToMultiByte(CP_ACP, 0, value.data(), static_cast<int>(got), text.data(), bytes,
                              nullptr, nullptr);
    }
    if (buffer == nullptr || text.size() + 1 > size) {
        return static_cast<uint32_t>(text.size() + 1);
    }
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = '\0';
    return static_cast<uint32_t>(text.size());
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

bool Win32FileSystem::WriteFileFrom(const std::string& path,
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
