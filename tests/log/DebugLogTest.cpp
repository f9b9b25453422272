#include <gtest/gtest.h>

#include <fstream>

#include "TestPlatform.h"
#include "log/DebugLog.h"

namespace dormex {
namespace {

// An entry names its level and, unless it is 0, its code (negative for an
// NTSTATUS); only a UserInfo entry reaches the console.
TEST(DebugLog, EntryFormatByLevelAndCode)
{
    struct Case {
        LogLevel level;
        int32_t code;
        const char* entry;
        const char* console;
    };
    const Case cases[] = {
        {LogLevel::Information, 0, "\nINFORMATION:: m", ""},
        {LogLevel::Warning, 0, "\nWARNING:: m", ""},
        {LogLevel::Error, -1073741823, "\nERROR:: m :: Error code: -1073741823", ""},
        {LogLevel::UserInfo, 0, "\nUSER_INFO:: m", "\nm"},
        {LogLevel::UserInfo, -5, "\nUSER_INFO:: m :: Error code: -5", "\nm\nExit Error code: -5"},
    };
    for (const Case& c : cases) {
        test::LogCapture fixture;
        fixture.Log.WriteLog(c.level, "m", c.code);
        EXPECT_EQ(fixture.Text(), c.entry);
        EXPECT_EQ(fixture.Console.Output, c.console) << c.entry;
    }
}

// Before the log file is open, and when it cannot be opened.
TEST(DebugLog, WithoutAWritableFileTheConsoleStillShowsUserInfo)
{
    test::LogCapture fixture;
    DebugLog unattached(fixture.Console);
    unattached.WriteLog(LogLevel::UserInfo, "Not able", 3);
    unattached.WriteLog(LogLevel::Information, "quiet", 0);
    EXPECT_EQ(fixture.Console.Output, "\nNot able\nExit Error code: 3");

    fixture.Console.Output.clear();
    std::ofstream missing(fixture.Dir.Path() / "missing" / "VQT-Debug-Log.txt");
    fixture.Log.WriteTo(&missing);
    fixture.Log.WriteLog(LogLevel::Information, "lost", 0);
    fixture.Log.WriteLog(LogLevel::UserInfo, "seen", 0);
    const std::string cannotOpen =
        "\nCannot open file. can you please remove the log file & restart the tool.";
    EXPECT_EQ(fixture.Console.Output, cannotOpen + cannotOpen + "\nseen");
}

}  // namespace
}  // namespace dormex
