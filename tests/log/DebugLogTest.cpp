#include <gtest/gtest.h>

#include <fstream>

#include "TestPlatform.h"
#include "log/DebugLog.h"

namespace dormex {
namespace {

TEST(DebugLog, EntryFormatByLevelAndCode)
{
    struct Case {
        LogLevel level;
        const char* message;
        int32_t code;
        const char* entry;
        const char* console;
    };
    const Case cases[] = {
        {LogLevel::Information, "AoAc Bit: 1", 0, "\nINFORMATION:: AoAc Bit: 1", ""},
        {LogLevel::Warning, "w", 0, "\nWARNING:: w", ""},
        {LogLevel::Error, "Cannot fill PoFx device Rundowns", 14,
         "\nERROR:: Cannot fill PoFx device Rundowns :: Error code: 14", ""},
        {LogLevel::UserInfo, "done", 0, "\nUSER_INFO:: done", "\ndone"},
        {LogLevel::Error, "neg", -1073741823, "\nERROR:: neg :: Error code: -1073741823", ""},
        {LogLevel::UserInfo, "neg", -5, "\nUSER_INFO:: neg :: Error code: -5", "\nneg\nExit Error code: -5"},
    };
    for (const Case& c : cases) {
        test::LogCapture fixture;
        fixture.Log.WriteLog(c.level, c.message, c.code);
        EXPECT_EQ(fixture.Text(), c.entry) << "message: " << c.message;
        EXPECT_EQ(fixture.Console.Output, c.console) << "message: " << c.message;
    }
}

TEST(DebugLog, WithoutSinkUserInfoReachesOnlyTheConsole)
{
    test::StringConsole console;
    DebugLog log(console);
    log.WriteLog(LogLevel::UserInfo, "Not able", 3);
    log.WriteLog(LogLevel::Information, "quiet", 0);
    EXPECT_EQ(console.Output, "\nNot able\nExit Error code: 3");
}

TEST(DebugLog, UnopenableFileShowsTheMessageForEveryEntry)
{
    test::LogCapture fixture;
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
