#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "TestPlatform.h"
#include "sysinfo/RuleFileSelection.h"
#include "sysinfo/SystemInfo.h"

namespace dormex {
namespace {

using Json = nlohmann::json;

// The ordinary machine with one member changed: a registry value under a key
// of its registry (null removes it), or "powerCapabilities".
std::string Changed(const std::string& key, const std::string& name, Json value)
{
    Json snapshot = Json::parse(test::BasicSnapshot());
    Json& member = key.empty() ? snapshot : snapshot["registry"][key];
    if (value.is_null()) {
        member.erase(name);
    } else {
        member[name] = value;
    }
    return snapshot.dump();
}

const std::string ProcessorKey = "hardware\\description\\system\\centralprocessor\\0";
const std::string CurrentVersionKey = "software\\microsoft\\windows nt\\currentversion";
const std::string BiosKey = "hardware\\description\\system\\bios";

// Runs ReadSystemInfo with the log writing to the profile's Desktop.
struct SystemInfoRun {
    test::TestMachine machine;
    int32_t status;

    explicit SystemInfoRun(const std::string& snapshot) : machine(snapshot)
    {
        machine.CaptureLog();
        status = ReadSystemInfo(machine.State.System, machine.State.Log, machine.Services);
    }
    const SystemInfo& Info() const { return machine.State.System; }
};

TEST(ReadCpuInfo, TakesWordsTwoFourAndSix)
{
    struct Case {
        const char* identifier;
        const char* architecture;
        int32_t family, model, stepping;
        const char* ruleFile;
    };
    const Case cases[] = {
        {"x64 Family 6", "x64", 6, 0, 0,
         "rules_for_soc\\Family_6_Model_0_Microsoft_Windows_10.xml"},
        {"  x64   Family  25 Model   97 Stepping 2 ", "x64", 25, 97, 2,
         "rules_for_soc\\Family_25_Model_97_Microsoft_Windows_10.xml"},
        {"x64 Family six Model 7 Stepping 1", "x64", 0, 7, 1,
         "rules_for_soc\\Family_0_Model_7_Microsoft_Windows_10.xml"},
        {"x64 Family -3 Model 7x Stepping", "x64", -3, 7, 0,
         "rules_for_soc\\Family_-3_Model_7_Microsoft_Windows_10.xml"},
        {"", "Unknown", 0, 0, 0, "rules_for_soc\\Family_0_Model_0_Microsoft_Windows_10.xml"},
    };
    for (const Case& c : cases) {
        SystemInfoRun run(Changed(ProcessorKey, "Identifier", c.identifier));
        EXPECT_EQ(run.status, 0) << c.identifier;
        EXPECT_EQ(run.Info().CpuArchitecture, c.architecture) << c.identifier;
        EXPECT_EQ(run.Info().CpuFamily, c.family) << c.identifier;
        EXPECT_EQ(run.Info().CpuModel, c.model) << c.identifier;
        EXPECT_EQ(run.Info().CpuStepping, c.stepping) << c.identifier;
        EXPECT_EQ(RuleFilePath(run.Info()), c.ruleFile) << c.identifier;
    }
}

TEST(ReadSystemInfo, EachMissingValueLogsItsCascade)
{
    const std::string cpu =
        "\nINFORMATION:: AoAc Bit: 1"
        "\nINFORMATION:: CPU Arch: x64\nINFORMATION:: CPU Family Name: 6"
        "\nINFORMATION:: CPU Model: 138\nINFORMATION:: CPU Stepping: 1";
    const std::string build = cpu + "\nINFORMATION:: OsBuild: 22621";
    const std::string biosSummary =
        "Cannot read BIOS information, please check your BIOS code for version, vendor name & "
        "release date in registry here: " +
        BiosKey + "\\";

    struct Case {
        std::string key;
        const char* value;
        std::string before;  // the log lines before the failure
        std::string stepError;
        std::string summary;  // the LogLevel::UserInfo line, also on the console
    };
    const Case cases[] = {
        {CurrentVersionKey, "CurrentBuildNumber", cpu, "OS Build cannot be obtained.",
         "Cannot set OS Information, please check Windows OS version you are running in registry "
         "here: " +
             CurrentVersionKey + "\\"},
        {BiosKey, "biosversion", build, "Bios Version cannot be obtained.", biosSummary},
        {BiosKey, "biosvendor", build, "Bios Vendor cannot be obtained.", biosSummary},
        {BiosKey, "biosreleasedate", build, "Bios release date cannot be obtained.", biosSummary},
    };
    for (const Case& c : cases) {
        SystemInfoRun run(Changed(c.key, c.value, nullptr));
        EXPECT_EQ(run.status, 1010) << c.value;
        EXPECT_EQ(run.machine.DebugLogText(),
                  c.before + "\nERROR:: Registry value cannot be obtained subKey: " + c.key + "\\" +
                      " :: Error code: 2\nERROR:: " + c.stepError +
                      " :: Error code: 1010\nUSER_INFO:: " + c.summary + " :: Error code: 1010")
            << c.value;
        EXPECT_EQ(run.machine.Console.Output, "\n" + c.summary + "\nExit Error code: 1010")
            << c.value;
    }
}

TEST(ReadSystemInfo, BiosVendorMissingKeepsTheVersionAndUnknowns)
{
    SystemInfoRun run(Changed(BiosKey, "biosvendor", nullptr));
    EXPECT_EQ(run.Info().BiosVersion, "QX.1.02");
    EXPECT_EQ(run.Info().BiosVendor, "Unknown");
    EXPECT_EQ(run.Info().BiosReleaseDate, "Unknown");
    EXPECT_EQ(run.machine.DebugLogText().find("Bios Version: "), std::string::npos);
}

TEST(ReadSystemInfo, ValueOfAnotherTypeIsNotReadable)
{
    SystemInfoRun run(Changed(CurrentVersionKey, "CurrentBuildNumber", 22621));
    EXPECT_EQ(run.status, 1010);
    EXPECT_NE(
        run.machine.DebugLogText().find(
            "\nERROR:: Registry value cannot be obtained subKey: software\\microsoft\\windows "
            "nt\\currentversion\\ :: Error code: 1630"),
        std::string::npos);
}

TEST(ReadAoAc, CapabilityByteAndFailure)
{
    SystemInfoRun off(Changed("", "powerCapabilities", {{"AoAc", false}}));
    EXPECT_EQ(off.status, 0);
    EXPECT_FALSE(off.Info().AoAc);
    EXPECT_EQ(off.machine.DebugLogText().rfind("\nINFORMATION:: AoAc Bit: 0\n", 0), 0u);

    SystemInfoRun failing(Changed("", "powerCapabilities", {{"status", -1073741790}}));
    EXPECT_EQ(failing.status, -1073741790);
    EXPECT_EQ(failing.machine.DebugLogText(),
              "\nERROR:: AoAc information cannot be obtained. :: Error code: -1073741790"
              "\nUSER_INFO:: Cannot read AoAc bit. :: Error code: -1073741790");
    EXPECT_EQ(failing.machine.Console.Output,
              "\nCannot read AoAc bit.\nExit Error code: -1073741790");
}

TEST(ReadUserProfile, MissingProfileStopsWithCode1253)
{
    test::TestMachine machine(test::BasicSnapshot());
    machine.Files.Environment.erase("USERPROFILE");
    machine.CaptureLog();
    EXPECT_EQ(ReadSystemInfo(machine.State.System, machine.State.Log, machine.Services), 1253);
    std::string log = machine.DebugLogText();
    EXPECT_EQ(log.substr(log.rfind("\nINFORMATION:: Bios Release Date")),
              "\nINFORMATION:: Bios Release Date: 02/11/2026"
              "\nERROR:: User profile cannot be accessed"
              "\nUSER_INFO:: Cannot set user profile. This stops VQT from storing files in a "
              "location. Please check if user profile is avalible :: Error code: 1253");
}

}  // namespace
}  // namespace dormex
