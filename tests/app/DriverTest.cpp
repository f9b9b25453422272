#include <gtest/gtest.h>

#include "TestPlatform.h"
#include "app/Driver.h"
#include "app/OutputPaths.h"
#include "sysinfo/Administrator.h"

namespace dormex {
namespace {

using test::BasicSnapshot;
using test::TestMachine;

// The help text itself and every stop of a run are in the end-to-end scenarios.
TEST(Driver, HelpSwitchWinsWhereverItStands)
{
    struct Case {
        std::vector<std::string> arguments;
        bool help;
    };
    const Case cases[] = {
        {{"/?"}, true},   {{"/t", "/?"}, true}, {{"x", "/?"}, true},
        {{"/?x"}, false}, {{"-?"}, false},      {{}, false},
    };
    for (const Case& c : cases) {
        TestMachine machine(BasicSnapshot());
        machine.Console.Input = "\n  k\n";
        EXPECT_EQ(RunDormex(c.arguments, machine.State, machine.Services), 0);
        const bool help = machine.Console.Output.rfind("\nTo use Dormex", 0) == 0;
        EXPECT_EQ(help, c.help) << ::testing::PrintToString(c.arguments);
        // Help reads up to one non-blank character.
        EXPECT_EQ(machine.Console.InputReads, c.help ? 4u : 0u);
    }
}

TEST(Driver, TestSwitchSkipsRuleFileSelection)
{
    struct Case {
        std::vector<std::string> arguments;
        bool testSwitch;
    };
    const Case cases[] = {
        {{"/t"}, true}, {{"x", "/t"}, true}, {{"/T"}, false}, {{"/t "}, false}, {{"-t"}, false},
    };
    for (const Case& c : cases) {
        TestMachine machine(BasicSnapshot());  // no rules_for_soc folder
        RunDormex(c.arguments, machine.State, machine.Services);
        bool folderMessage =
            machine.Console.Output.find("\"rules_for_soc\" folder not found.") != std::string::npos;
        EXPECT_EQ(folderMessage, !c.testSwitch) << ::testing::PrintToString(c.arguments);
    }
}

// Without a Desktop folder the output goes to the current directory, however
// long its path, never to the root of the drive.
TEST(Driver, OutputDirectoryIsTheWholeCurrentDirectory)
{
    test::TestFileSystem files;
    files.CurrentDirectory = "C:\\" + std::string(300, 'w');
    SystemInfo info;
    info.UserProfile = "C:\\no-such-profile";
    EXPECT_EQ(OutputDirectory(info, files), files.CurrentDirectory);
}

TEST(Driver, SecondRunStartsAFreshLog)
{
    TestMachine machine(BasicSnapshot());
    test::WriteFile(machine.Profile + "/Desktop/VQT-Debug-Log.txt", "old run");
    RunDormex({}, machine.State, machine.Services);
    EXPECT_EQ(machine.DebugLogText().rfind("\nINFORMATION:: -----", 0), 0u);
}

// Counts the identifiers handed out and freed.
class CountingSecurity final : public Security {
public:
    bool allocates = true;
    bool queryWorks = true;
    bool member = true;
    int allocated = 0;
    int freed = 0;
    int token = 0;

    bool AllocateAndInitializeSid(const std::array<uint8_t, 6>& authority, uint8_t count,
                                  const std::array<uint32_t, 8>& subAuthorities,
                                  SidHandle* sid) override
    {
        EXPECT_EQ(authority, NtAuthority);
        EXPECT_EQ(count, 2);
        EXPECT_EQ(subAuthorities, (std::array<uint32_t, 8>{32, 544, 0, 0, 0, 0, 0, 0}));
        if (!allocates) {
            return false;
        }
        ++allocated;
        *sid = &token;
        return true;
    }
    bool CheckTokenMembership(SidHandle, bool* isMember) override
    {
        *isMember = member;
        return queryWorks;
    }
    void FreeSid(SidHandle) override { ++freed; }
};

TEST(IsAdministrator, EveryFailureCountsAsNoAdministratorAndFreesTheIdentifier)
{
    struct Case {
        bool allocates, queryWorks, member, expected;
        int freed;
    };
    const Case cases[] = {
        {true, true, true, true, 1},
        {true, true, false, false, 1},
        {true, false, true, false, 1},
        {false, true, true, false, 0},
    };
    for (const Case& c : cases) {
        CountingSecurity security;
        security.allocates = c.allocates;
        security.queryWorks = c.queryWorks;
        security.member = c.member;
        EXPECT_EQ(IsAdministrator(security), c.expected);
        EXPECT_EQ(security.freed, c.freed);
        EXPECT_EQ(security.allocated, c.freed);
    }
}

}  // namespace
}  // namespace dormex
