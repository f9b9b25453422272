#include <gtest/gtest.h>

#include <fstream>

#include "TestPlatform.h"
#include "log/DebugLog.h"

namespace dormex {
namespace {

// An entry names its level and, unless it is 0, its code (negative for an
// NTSTATUS); only a USER_INFO entry reaches the console.
TEST(DebugLog, EntryFormatByLevelAndCode)
{
    struct Case {
        LogLevel level;
        int32_t code;
        const char* entry;
        const char* console;
    };
    const Case cases[] = {
        {INFORMATION, 0, "\nINFORMATION:: m", ""},
        {WARNING, 0, "\nWARNING:: m", ""},
        {ERROR, -1073741823, "\nERROR:: m :: Error code: -1073741823", ""},
        {USER_INFO, 0, "\nUSER_INFO:: m", "\nm"},
        {USER_INFO, -5, "\nUSER_INFO:: m :: Error code: -5", "\nm\nExit Error code: -5"},
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
    unattached.WriteLog(USER_INFO, "Not able", 3);
    unattached.WriteLog(INFORMATION, "quiet", 0);
    EXPECT_EQ(fixture.Console.Output, "\nNot able\nExit Error code: 3");

    fixture.Console.Output.clear();
    std::ofstream missing(fixture.Dir.Path() / "missing" / "VQT-Debug-Log.txt");
    fixture.Log.WriteTo(&missing);
    fixture.Log.WriteLog(INFORMATION, "lost", 0);
    fixture.Log.WriteLog(USER_INFO, "seen", 0);
    const std::string cannotOpen =
        "\nCannot open file. can you please remove the log file & restart the tool.";
    EXPECT_EQ(fixture.Console.Output, cannotOpen + cannotOpen + "\nseen");
}

}  // namespace
}  // namespace dormex
