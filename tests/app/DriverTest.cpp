#include <gtest/gtest.h>

#include "TestPlatform.h"
#include "app/Driver.h"
#include "app/OutputPaths.h"
#include "sysinfo/Administrator.h"

namespace dormex {
namespace {

using test::BasicSnapshot;
using test::TestMachine;

// The help text itself and every stop of a run are in the end-to-end scenarios;
// here which arguments are the switches, wherever they stand.
TEST(Driver, SwitchesAreTheirExactText)
{
    struct Case {
        std::vector<std::string> arguments;
        bool help;
        bool testSwitch;
    };
    const Case cases[] = {
        {{"/?"}, true, false},   {{"x", "/?"}, true, false}, {{"/?x"}, false, false},
        {{"-?"}, false, false},  {{"x", "/t"}, false, true}, {{"/T"}, false, false},
        {{"/t "}, false, false}, {{"-t"}, false, false},     {{}, false, false},
    };
    for (const Case& c : cases) {
        TestMachine machine(BasicSnapshot());  // no rules_for_soc folder
        machine.Console.Input = "\n  k\n";
        const std::string which = ::testing::PrintToString(c.arguments);
        // With /t the test rule file is loaded, and missing.
        EXPECT_EQ(RunDormex(c.arguments, machine.State, machine.Services), c.testSwitch ? 13 : 0);
        const std::string& output = machine.Console.Output;
        EXPECT_EQ(output.rfind("\nTo use Dormex", 0) == 0, c.help) << which;
        // Help reads up to one non-blank character.
        EXPECT_EQ(machine.Console.InputReads, c.help ? 4u : 0u) << which;
        EXPECT_EQ(output.find("\"rules_for_soc\" folder not found.") != std::string::npos,
                  !c.help && !c.testSwitch)
            << which;
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

// Answers as a case says; counts the identifiers handed out and not freed.
class CaseSecurity final : public Security {
public:
    bool allocates = true, queryWorks = true, member = true;
    int held = 0;

    bool AllocateAndInitializeSid(const std::array<uint8_t, 6>& authority, uint8_t count,
                                  const std::array<uint32_t, 8>& subAuthorities,
                                  SidHandle* sid) override
    {
        // BUILTIN\Administrators, S-1-5-32-544.
        EXPECT_TRUE(authority == NtAuthority && count == 2 && subAuthorities[0] == 32 &&
                    subAuthorities[1] == 544);
        *sid = &held;
        held += allocates ? 1 : 0;
        return allocates;
    }
    bool CheckTokenMembership(SidHandle, bool* isMember) override
    {
        *isMember = member;
        return queryWorks;
    }
    void FreeSid(SidHandle) override { --held; }
};

TEST(IsAdministrator, EveryFailureCountsAsNoAdministratorAndFreesTheIdentifier)
{
    // Allocates, query works, member; is an administrator.
    const std::array<bool, 4> cases[] = {{true, true, true, true},
                                         {true, true, false, false},
                                         {true, false, true, false},
                                         {false, true, true, false}};
    for (const auto& [allocates, queryWorks, member, administrator] : cases) {
        CaseSecurity security;
        security.allocates = allocates;
        security.queryWorks = queryWorks;
        security.member = member;
        EXPECT_EQ(IsAdministrator(security), administrator);
        EXPECT_EQ(security.held, 0);
    }
}

}  // namespace
}  // namespace dormex
