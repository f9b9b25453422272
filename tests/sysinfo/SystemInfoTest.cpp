#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "TestPlatform.h"
#include "sysinfo/RuleFileSelection.h"
#include "sysinfo/SystemInfo.h"

namespace dormex {
namespace {

using Json = nlohmann::json;

struct RegistryValues {
    std::map<std::string, Json> processor{{"Identifier", "x64 Family 6 Model 138 Stepping 1"}};
    std::map<std::string, Json> currentVersion{{"CurrentBuildNumber", "22621"}};
    std::map<std::string, Json> bios{{"biosversion", "QX.1.02"},
                                     {"biosvendor", "Brindle Firmware"},
                                     {"biosreleasedate", "02/11/2026"}};

    std::string Snapshot(Json power = {{"AoAc", true}}) const
    {
        return Json{{"format", "dormex-machine/1"},
                    {"powerCapabilities", power},
                    {"registry",
                     {{"hardware\\description\\system\\centralprocessor\\0", processor},
                      {"software\\microsoft\\windows nt\\currentversion", currentVersion},
                      {"hardware\\description\\system\\bios", bios}}}}
            .dump();
    }
};

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
        {"x64 Family 6 Model 138 Stepping 1", "x64", 6, 138, 1,
         "rules_for_soc\\Family_6_Model_138_Microsoft_Windows_10.xml"},
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
        RegistryValues values;
        values.processor["Identifier"] = c.identifier;
        SystemInfoRun run(values.Snapshot());
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
    const std::string processorKey = "hardware\\description\\system\\centralprocessor\\0\\";
    const std::string currentVersionKey = "software\\microsoft\\windows nt\\currentversion\\";
    const std::string biosKey = "hardware\\description\\system\\bios\\";
    const std::string aoac = "\nINFORMATION:: AoAc Bit: 1";
    const std::string cpu = aoac +
                            "\nINFORMATION:: CPU Arch: x64\nINFORMATION:: CPU Family Name: 6"
                            "\nINFORMATION:: CPU Model: 138\nINFORMATION:: CPU Stepping: 1";
    const std::string build = cpu + "\nINFORMATION:: OsBuild: 22621";
    const std::string biosSummary =
        "Cannot read BIOS information, please check your BIOS code for version, vendor name & "
        "release date in registry here: " +
        biosKey;

    struct Case {
        std::map<std::string, Json> RegistryValues::*key;
        const char* value;
        std::string before;  // the log lines before the failure
        std::string subKey;
        std::string stepError;
        std::string summary;  // the USER_INFO line, also on the console
    };
    const Case cases[] = {
        {&RegistryValues::processor, "Identifier", aoac, processorKey,
         "CPU Information cannot be obtained.",
         "Cannot set CPU Information, please check your registry here: " + processorKey +
             "with Identifier keyword"},
        {&RegistryValues::currentVersion, "CurrentBuildNumber", cpu, currentVersionKey,
         "OS Build cannot be obtained.",
         "Cannot set OS Information, please check Windows OS version you are running in registry "
         "here: " +
             currentVersionKey},
        {&RegistryValues::bios, "biosversion", build, biosKey, "Bios Version cannot be obtained.",
         biosSummary},
        {&RegistryValues::bios, "biosvendor", build, biosKey, "Bios Vendor cannot be obtained.",
         biosSummary},
        {&RegistryValues::bios, "biosreleasedate", build, biosKey,
         "Bios release date cannot be obtained.", biosSummary},
    };
    for (const Case& c : cases) {
        RegistryValues values;
        (values.*c.key).erase(c.value);
        SystemInfoRun run(values.Snapshot());
        EXPECT_EQ(run.status, 1010) << c.value;
        EXPECT_EQ(run.machine.DebugLogText(),
                  c.before + "\nERROR:: Registry value cannot be obtained subKey: " + c.subKey +
                      " :: Error code: 2\nERROR:: " + c.stepError +
                      " :: Error code: 1010\nUSER_INFO:: " + c.summary + " :: Error code: 1010")
            << c.value;
        EXPECT_EQ(run.machine.Console.Output, "\n" + c.summary + "\nExit Error code: 1010")
            << c.value;
    }
}

TEST(ReadSystemInfo, BiosVendorMissingKeepsTheVersionAndUnknowns)
{
    RegistryValues values;
    values.bios.erase("biosvendor");
    SystemInfoRun run(values.Snapshot());
    EXPECT_EQ(run.Info().BiosVersion, "QX.1.02");
    EXPECT_EQ(run.Info().BiosVendor, "Unknown");
    EXPECT_EQ(run.Info().BiosReleaseDate, "Unknown");
    EXPECT_EQ(run.machine.DebugLogText().find("Bios Version: "), std::string::npos);
}

TEST(ReadSystemInfo, ValueOfAnotherTypeIsNotReadable)
{
    RegistryValues values;
    values.currentVersion["CurrentBuildNumber"] = 22621;
    SystemInfoRun run(values.Snapshot());
    EXPECT_EQ(run.status, 1010);
    EXPECT_NE(
        run.machine.DebugLogText().find(
            "\nERROR:: Registry value cannot be obtained subKey: software\\microsoft\\windows "
            "nt\\currentversion\\ :: Error code: 1630"),
        std::string::npos);
}

TEST(ReadAoAc, CapabilityByteAndFailure)
{
    SystemInfoRun off(RegistryValues{}.Snapshot({{"AoAc", false}}));
    EXPECT_EQ(off.status, 0);
    EXPECT_FALSE(off.Info().AoAc);
    EXPECT_EQ(off.machine.DebugLogText().rfind("\nINFORMATION:: AoAc Bit: 0\n", 0), 0u);

    SystemInfoRun failing(RegistryValues{}.Snapshot({{"status", -1073741790}}));
    EXPECT_EQ(failing.status, -1073741790);
    EXPECT_EQ(failing.machine.DebugLogText(),
              "\nERROR:: AoAc information cannot be obtained. :: Error code: -1073741790"
              "\nUSER_INFO:: Cannot read AoAc bit. :: Error code: -1073741790");
    EXPECT_EQ(failing.machine.Console.Output,
              "\nCannot read AoAc bit.\nExit Error code: -1073741790");
}

TEST(ReadUserProfile, MissingProfileStopsWithCode1253)
{
    test::TestMachine machine(RegistryValues{}.Snapshot());
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
