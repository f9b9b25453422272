#include <gtest/gtest.h>

#include <filesystem>

#include "TestPlatform.h"
#include "app/Driver.h"

namespace dormex {
namespace {

using test::BasicSnapshot;
using test::TestMachine;

const std::string HelpText =
    "\nTo use Dormex you can run without any options. "
    "\nAlthough, there are some options for running specific modes."
    "\n\n\tARGUMENTS: \n\t\t /?: dumps help information.\n Press ANY key to continue..";

const std::string Initialized =
    "\nINFORMATION:: -------------------------------------Debug File "
    "Initialized------------------------------------";
const std::string Exiting =
    "\nINFORMATION:: ---------------------Exiting Application-------------------------";

std::string SystemLines(const TestMachine& machine)
{
    return "\nINFORMATION:: AoAc Bit: 1\nINFORMATION:: CPU Arch: x64"
           "\nINFORMATION:: CPU Family Name: 6\nINFORMATION:: CPU Model: 138"
           "\nINFORMATION:: CPU Stepping: 1\nINFORMATION:: OsBuild: 22621"
           "\nINFORMATION:: Bios Version: QX.1.02\nINFORMATION:: Bios Vendor: Brindle Firmware"
           "\nINFORMATION:: Bios Release Date: 02/11/2026\nINFORMATION:: User Profile: " +
           machine.Profile;
}

void AddRuleFile(const TestMachine& machine)
{
    test::WriteFile(std::filesystem::path(machine.WorkingDir) / "rules_for_soc" /
                        "Family_6_Model_138_Microsoft_Windows_10.xml",
                    R"(<platform name="x"><os build=""><rule>
                      <class>audio</class><regex>.*HDAS</regex><servicename>HDAudBus</servicename>
                      <ruletype>always</ruletype><platformstatecount>1</platformstatecount>
                      <platformstate><platformstateindex>0</platformstateindex>
                        <Dstate>3</Dstate><Fstate>0</Fstate></platformstate>
                    </rule></os></platform>)");
}

std::string LogPathShown(const TestMachine& machine)
{
    return "\nDebug file can be found at: " + machine.Profile + "\\Desktop\\VQT-Debug-Log.txt";
}

TEST(Driver, HelpSwitchWinsWhereverItStands)
{
    struct Case {
        std::vector<std::string> arguments;
        bool help;
    };
    const Case cases[] = {
        {{"/?"}, true},
        {{"/t", "/?"}, true},
        {{"/?", "/t", "whatever"}, true},
        {{"x", "/?"}, true},
        {{"/?x"}, false},
        {{"-?"}, false},
        {{}, false},
    };
    for (const Case& c : cases) {
        TestMachine machine(BasicSnapshot());
        machine.Console.Input = "\n  k\n";
        int32_t status = RunDormex(c.arguments, machine.State, machine.Services);
        EXPECT_EQ(status, 0);
        if (c.help) {
            EXPECT_EQ(machine.Console.Output, HelpText) << ::testing::PrintToString(c.arguments);
            EXPECT_EQ(machine.Console.InputReads, 4u) << "reads up to one non-blank character";
            EXPECT_EQ(machine.DebugLogText(), "");
        } else {
            EXPECT_EQ(machine.Console.Output.find("To use Dormex"), std::string::npos);
            EXPECT_EQ(machine.Console.InputReads, 0u);
        }
    }
}

TEST(Driver, HelpEndsAtEndOfInput)
{
    TestMachine machine(BasicSnapshot());
    EXPECT_EQ(RunDormex({"/?"}, machine.State, machine.Services), 0);
    EXPECT_EQ(machine.Console.Output, HelpText);
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

TEST(Driver, TestSwitchWithoutRuleFolderFailsAtLoading)
{
    TestMachine machine(BasicSnapshot());
    EXPECT_EQ(RunDormex({"/t"}, machine.State, machine.Services), 13);
    const std::string path = ".\\rules_for_soc\\Family_6_Model_138_Microsoft_Windows_10.xml";
    EXPECT_EQ(machine.Console.Output,
              LogPathShown(machine) +
                  "\nRunning checks..."
                  "\nCannot generate VQT report, cannot get xml parsed or validated."
                  "\nExit Error code: 13");
    std::string log = machine.DebugLogText();
    EXPECT_EQ(log.substr(log.find("\nINFORMATION:: Parsing")),
              "\nINFORMATION:: Parsing  xml values from: " + path +
                  "\nERROR:: Cannot create a doc handle :: Error code: 13"
                  "\nERROR:: Cannot parse xml information from XML location : " + path +
                  " :: Error code: 13"
                  "\nUSER_INFO:: Cannot generate VQT report, cannot get xml parsed or validated. :: "
                  "Error code: 13" +
                  Exiting);
}

TEST(Driver, NoUserProfileStopsBeforeAnyFile)
{
    TestMachine machine(BasicSnapshot());
    machine.Files.Environment.clear();
    EXPECT_EQ(RunDormex({}, machine.State, machine.Services), 0);
    EXPECT_EQ(machine.Console.Output, "\nNot able to get user profile value.");
    EXPECT_EQ(machine.DebugLogText(), "");
    EXPECT_TRUE(std::filesystem::is_empty(machine.Profile + "/Desktop"));
}

TEST(Driver, SystemInformationFailureStopsWithItsCode)
{
    TestMachine machine(R"({"format": "dormex-machine/1"})");
    EXPECT_EQ(RunDormex({}, machine.State, machine.Services), 1010);
    const std::string summary =
        "Cannot set CPU Information, please check your registry here: "
        "hardware\\description\\system\\centralprocessor\\0\\with Identifier keyword";
    EXPECT_EQ(machine.Console.Output,
              LogPathShown(machine) + "\n" + summary + "\nExit Error code: 1010" +
                  "\n\nNot able to access system information. Please restart the application." +
                  "\nExit Error code: 1010");
    std::string log = machine.DebugLogText();
    EXPECT_EQ(log.substr(log.find("\nUSER_INFO:: \n")),
              "\nUSER_INFO:: \nNot able to access system information. Please restart the "
              "application. :: Error code: 1010" +
                  Exiting);
}

TEST(Driver, NonAdministratorIsRefusedAfterIdentification)
{
    std::string snapshot = BasicSnapshot();
    snapshot.insert(snapshot.find('{') + 1, R"("administrator": false,)");
    TestMachine machine(snapshot);
    EXPECT_EQ(RunDormex({}, machine.State, machine.Services), 0);
    const std::string refusal =
        "User does not have Administrator rights.  Run again from an Administrator Command Prompt.";
    EXPECT_EQ(machine.DebugLogText(),
              Initialized + SystemLines(machine) + "\nUSER_INFO:: " + refusal + Exiting);
    EXPECT_EQ(machine.Console.Output, LogPathShown(machine) + "\n" + refusal);
}

TEST(Driver, MissingRuleFolderIsOnlyPrinted)
{
    TestMachine machine(BasicSnapshot());
    EXPECT_EQ(RunDormex({}, machine.State, machine.Services), 0);
    EXPECT_EQ(machine.Console.Output,
              LogPathShown(machine) +
                  "\n\"rules_for_soc\" folder not found.  Please check installation.");
    EXPECT_EQ(machine.DebugLogText(), Initialized + SystemLines(machine) + Exiting);
}

TEST(Driver, MissingRuleFileLogsWhatWasLookedFor)
{
    TestMachine machine(BasicSnapshot());
    std::filesystem::create_directories(machine.WorkingDir + "/rules_for_soc");
    EXPECT_EQ(RunDormex({}, machine.State, machine.Services), 0);
    EXPECT_EQ(machine.Console.Output,
              LogPathShown(machine) +
                  "\nNo config information is present for this system...use VQT Debug Log for "
                  "debugging...");
    EXPECT_EQ(machine.DebugLogText(),
              Initialized + SystemLines(machine) +
                  "\nINFORMATION:: Config file:  "
                  "rules_for_soc\\Family_6_Model_138_Microsoft_Windows_10.xml"
                  "\nINFORMATION::  OS Build : 22621"
                  "\nINFORMATION:: Os Version name: Microsoft_Windows_10" +
                  Exiting);
}

TEST(Driver, CompleteRunAnnouncesTheReport)
{
    TestMachine machine(BasicSnapshot());
    AddRuleFile(machine);
    EXPECT_EQ(RunDormex({}, machine.State, machine.Services), 0);
    const std::string report = machine.Profile + "\\Desktop\\VQT-Report.html";
    EXPECT_EQ(machine.Console.Output, LogPathShown(machine) + "\nRunning checks..." +
                                          "\nVQT report has been generated & stored here: " +
                                          report);
}

TEST(Driver, ReportThatCannotBeWrittenIsNotAnnounced)
{
    TestMachine machine(BasicSnapshot());
    AddRuleFile(machine);
    std::filesystem::create_directories(machine.Profile + "/Desktop/VQT-Report.html");
    EXPECT_EQ(RunDormex({}, machine.State, machine.Services), 29);
    const std::string report = machine.Profile + "\\Desktop\\VQT-Report.html";
    EXPECT_EQ(machine.Console.Output, LogPathShown(machine) + "\nRunning checks..." +
                                          "\nCannot write VQT report here: " + report +
                                          "\nExit Error code: 29");
    std::string log = machine.DebugLogText();
    EXPECT_EQ(log.substr(log.find("\nINFORMATION:: Adding Rundowns to Report")),
              "\nINFORMATION:: Adding Rundowns to Report"
              "\nUSER_INFO:: Cannot write VQT report here: " + report + " :: Error code: 29" +
                  Exiting);
}

TEST(Driver, WithoutDesktopTheOutputGoesToTheCurrentDirectory)
{
    TestMachine machine(BasicSnapshot(), /*withDesktop=*/false);
    AddRuleFile(machine);
    EXPECT_EQ(RunDormex({}, machine.State, machine.Services), 0);
    EXPECT_EQ(machine.Console.Output,
              "\nDebug file can be found at: " + machine.WorkingDir + "\\VQT-Debug-Log.txt" +
                  "\nRunning checks...\nVQT report has been generated & stored here: " +
                  machine.WorkingDir + "\\VQT-Report.html");
    EXPECT_EQ(machine.DebugLogText().rfind(Initialized, 0), 0u);
}

TEST(Driver, SecondRunStartsAFreshLog)
{
    TestMachine machine(BasicSnapshot());
    test::WriteFile(machine.Profile + "/Desktop/VQT-Debug-Log.txt", "old run");
    RunDormex({}, machine.State, machine.Services);
    EXPECT_EQ(machine.DebugLogText().rfind(Initialized, 0), 0u);
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
