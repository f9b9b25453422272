// <windows.h> comes before every other Windows header.
#include <windows.h>

#include <io.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "common/StatusCodes.h"
#include "common/Text.h"
#include "platform/NativeProcess.h"
#include "platform/StandardConsole.h"
#include "platform/win32/Win32FileSystem.h"

namespace dormex {

namespace {

// What the console control handler and the main thread share. A handler gets
// no context of its own and runs on a thread of its own, possibly until the
// process ends, so the two events live as long as the process and are never
// closed. The handler only signals `requested`; for a closing console it then
// waits for `finished`, because the process ends as soon as it returns.
struct ConsoleSignals {
    const HANDLE requested = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

const ConsoleSignals& Signals()
{
    static const ConsoleSignals signals;
    return signals;
}

BOOL WINAPI NoteConsoleEvent(DWORD event)
{
    const ConsoleSignals& signals = Signals();
    ::SetEvent(signals.requested);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Windows ends the process a few seconds on in any case.
        ::WaitForSingleObject(signals.finished, INFINITE);
    }
    return TRUE;
}

class ConsoleEvents final : public Interruption {
public:
    bool Requested() override
    {
        return ::WaitForSingleObject(Signals().requested, 0) == WAIT_OBJECT_0;
    }
    void Sleep(uint32_t milliseconds) override
    {
        ::WaitForSingleObject(Signals().requested, milliseconds);
    }
};

std::u16string EnvironmentValue(const wchar_t* name)
{
    std::u16string value(::GetEnvironmentVariableW(name, nullptr, 0), u'\0');
    DWORD length = ::GetEnvironmentVariableW(name, reinterpret_cast<wchar_t*>(value.data()),
                                             static_cast<DWORD>(value.size()));
    value.resize(length < value.size() ? length : 0);
    return value;
}

std::u16string CurrentDirectory()
{
    std::u16string directory(::GetCurrentDirectoryW(0, nullptr), u'\0');
    DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(directory.size()),
                                          reinterpret_cast<wchar_t*>(directory.data()));
    directory.resize(length < directory.size() ? length : 0);
    return directory;
}

// Before Windows 10 1903, or with the manifest stripped, the narrow calls
// speak the ANSI code page instead of UTF-8. Plain ASCII reads the same in
// both, so a run goes on as long as every path it starts from is ASCII;
// otherwise it would look for its files in the wrong places. The paths are
// read with the wide calls: a narrow one turns a character its code page
// lacks into '?', which looks like ASCII.
std::optional<ProcessRefusal> CodePageRefusal()
{
    const UINT codePage = ::GetACP();
    if (codePage == CP_UTF8) {
        return std::nullopt;
    }
    const std::pair<const char*, std::string> texts[] = {
        {"the user profile folder (USERPROFILE)", Utf16ToUtf8(EnvironmentValue(L"USERPROFILE"))},
        {"the current folder", Utf16ToUtf8(CurrentDirectory())},
        {"the program's folder", Win32FileSystem().ModuleFileName()},
        {"DORMEX_MACHINE", Utf16ToUtf8(EnvironmentValue(L"DORMEX_MACHINE"))},
        {"DORMEX_RECORD", Utf16ToUtf8(EnvironmentValue(L"DORMEX_RECORD"))},
        {"DORMEX_RESULTS", Utf16ToUtf8(EnvironmentValue(L"DORMEX_RESULTS"))},
    };
    for (const auto& [what, text] : texts) {
        if (std::any_of(text.begin(), text.end(), [](char c) { return (c & 0x80) != 0; })) {
            return ProcessRefusal{
                AsStatus(ErrorNoUnicodeTranslation),
                std::string(what) +
                    " has characters outside ASCII, and Windows runs programs "
                    "here in code page " +
                    std::to_string(codePage) +
                    ", not UTF-8 (Windows 10 before version 1903, or a dormex.exe without its "
                    "manifest): run Dormex on Windows 10 version 1903 or later, or from "
                    "folders with ASCII names"};
        }
    }
    return std::nullopt;
}

// One Dormex at a time on the machine: the trace session's name, the scratch
// files and the output files are the same for every run. The mutex is named
// in the global namespace, so that a run in another logon session counts too;
// creating there needs a privilege that administrators have, and without it
// the session's own namespace is the next best.
std::optional<ProcessRefusal> TakeRunLock(HANDLE& lock)
{
    for (const wchar_t* name : {L"Global\\Corva.Dormex.Run", L"Local\\Corva.Dormex.Run"}) {
        lock = ::CreateMutexExW(nullptr, name, CREATE_MUTEX_INITIAL_OWNER, SYNCHRONIZE);
        const DWORD error = ::GetLastError();
        if (lock != nullptr && error == ERROR_ALREADY_EXISTS) {
            ::CloseHandle(lock);
            lock = nullptr;
            return ProcessRefusal{AsStatus(ErrorBusy),
                                  "another Dormex run is in progress on this machine; wait for "
                                  "it to end, then run again"};
        }
        if (lock != nullptr) {
            return std::nullopt;
        }
        if (error != ERROR_ACCESS_DENIED) {
            return ProcessRefusal{AsStatus(error),
                                  "cannot tell whether another Dormex run is in progress "
                                  "(CreateMutexExW failed with error " +
                                      std::to_string(error) + ")"};
        }
    }
    return ProcessRefusal{AsStatus(ErrorAccessDenied),
                          "cannot tell whether another Dormex run is in progress (no access to "
                          "the run lock)"};
}

class Win32Process final : public NativeProcess {
public:
    Win32Process()
    {
        // The program writes UTF-8; a console left in its OEM code page shows
        // a path such as C:\Users\José garbled.
        outputCodePage_ = ::GetConsoleOutputCP();
        if (outputCodePage_ != 0 && outputCodePage_ != CP_UTF8) {
            ::SetConsoleOutputCP(CP_UTF8);
        }
        refusal_ = CodePageRefusal();
        if (!refusal_) {
            refusal_ = TakeRunLock(lock_);
        }
        if (!refusal_) {
            Signals();
            handlerSet_ = ::SetConsoleCtrlHandler(NoteConsoleEvent, TRUE) != FALSE;
        }
    }
    ~Win32Process() override
    {
        ::SetEvent(Signals().finished);
        if (handlerSet_) {
            ::SetConsoleCtrlHandler(NoteConsoleEvent, FALSE);
        }
        if (lock_ != nullptr) {
            ::CloseHandle(lock_);
        }
        if (outputCodePage_ != 0 && outputCodePage_ != CP_UTF8) {
            ::SetConsoleOutputCP(outputCodePage_);
        }
    }
    Win32Process(const Win32Process&) = delete;
    Win32Process& operator=(const Win32Process&) = delete;

    const std::optional<ProcessRefusal>& Refusal() const override { return refusal_; }
    Interruption& ConsoleInterruption() override { return interruption_; }

private:
    UINT outputCodePage_ = 0;
    std::optional<ProcessRefusal> refusal_;
    HANDLE lock_ = nullptr;
    bool handlerSet_ = false;
    ConsoleEvents interruption_;
};

}  // namespace

std::unique_ptr<NativeProcess> StartNativeProcess()
{
    return std::make_unique<Win32Process>();
}

bool StandardErrorIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

}  // namespace dormex
