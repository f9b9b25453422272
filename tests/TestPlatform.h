#pragma once

#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>

#include "TestFileSystem.h"
#include "TestFiles.h"
#include "app/RunState.h"
#include "platform/Console.h"
#include "platform/replay/ReplayMachine.h"

namespace dormex::test {

// Console output collected in a string; input served from one.
class StringConsole final : public Console {
public:
    std::string Output;
    std::string Errors;  // standard error
    std::string Input;
    size_t InputReads = 0;

    void Write(std::string_view text) override { Output += text; }
    bool ReadChar(char* c) override;
    void WriteError(std::string_view text) override { Errors += text; }
};

MachineSnapshot ParseSnapshotOrFail(std::string_view json);

// A debug log whose entries and console output are collected, with a
// directory of its own, for tests of single operations.
struct LogCapture {
    TempDir Dir;
    TestFileSystem Files;
    StringConsole Console;
    std::ostringstream Entries;
    DebugLog Log{Console};

    LogCapture();
    std::string Text() const { return Entries.str(); }
    // Writes a file into the directory; returns its path.
    std::string AddFile(const std::string& name, std::string_view content) const;
};

// A replayed machine with a user profile (holding a Desktop folder) and a
// working directory inside a temporary directory, and a RunState for it.
class TestMachine {
public:
    explicit TestMachine(std::string_view snapshotJson);

    TempDir Dir;
    std::string Profile;     // <dir>/profile
    std::string WorkingDir;  // <dir>/work; relative paths resolve against it
    TestFileSystem Files;
    StringConsole Console;
    ReplayMachine Machine;
    Platform Services;
    RunState State;
    std::ostringstream LogSink;

    // Sends the log to LogSink, for tests of single operations.
    void CaptureLog() { State.Log.WriteTo(&LogSink); }
    // The log file on the Desktop, else what LogSink caught.
    std::string DebugLogText() const;
};

// The snapshot of a complete, ordinary machine: family 6, model 138, build
// 22621, administrator.
std::string BasicSnapshot();

}  // namespace dormex::test
