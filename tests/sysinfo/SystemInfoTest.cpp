#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "TestPlatform.h"
#include "sysinfo/RuleFileSelection.h"
#include "sysinfo/SystemInfo.h"

namespace dormex {
namespace {

using Json = nlohmann::json;

// The ordinary machine with a registry value under one of its keys changed,
// or removed (null).
std::string Changed(const std::string& key, const std::string& name, Json value)
{
    Json snapshot = Json::parse(test::BasicSnapshot());
    Json& values = snapshot["registry"][key];
    if (value.is_null()) {
        values.erase(name);
    } else {
        values[name] = value;
    }
    return snapshot.dump();
}

const std::string ProcessorKey = "hardware\\description\\system\\centralprocessor\\0";
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

// What the user is told when a BIOS value is missing; a missing processor
// identifier and an OS build of another type are in the end-to-end scenarios.
TEST(ReadSystemInfo, EachMissingBiosValueStopsTheIdentification)
{
    for (const char* value : {"biosversion", "biosvendor", "biosreleasedate"}) {
        SystemInfoRun run(Changed(BiosKey, value, nullptr));
        EXPECT_EQ(run.status, 1010) << value;
        EXPECT_EQ(run.machine.Console.Output,
                  "\nCannot read BIOS information, please check your BIOS code for version, vendor "
                  "name & release date in registry here: " +
                      BiosKey + "\\\nExit Error code: 1010")
            << value;
    }
}

}  // namespace
}  // namespace dormex
