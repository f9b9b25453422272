#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "TestPlatform.h"
#include "sysinfo/RuleFileSelection.h"
#include "sysinfo/SystemInfo.h"

namespace dormex {
namespace {

// The identity and its stops (a missing identifier, an OS build of another
// type, power capabilities that cannot be read) are in the end-to-end
// scenarios; here the words of odd processor identifiers and the rule file
// they choose.
TEST(ReadCpuInfo, TakesWordsTwoFourAndSix)
{
    struct Case {
        const char* identifier;
        const char* architecture;
        int32_t family, model, stepping;
    };
    const Case cases[] = {
        {"x64 Family 6", "x64", 6, 0, 0},
        {"  x64   Family  25 Model   97 Stepping 2 ", "x64", 25, 97, 2},
        {"x64 Family six Model 7 Stepping 1", "x64", 0, 7, 1},
        {"x64 Family -3 Model 7x Stepping", "x64", -3, 7, 0},
        {"", "Unknown", 0, 0, 0},
    };
    for (const Case& c : cases) {
        nlohmann::json snapshot = nlohmann::json::parse(test::BasicSnapshot());
        snapshot["registry"]["hardware\\description\\system\\centralprocessor\\0"]["Identifier"] =
            c.identifier;
        test::TestMachine machine(snapshot.dump());
        EXPECT_EQ(ReadSystemInfo(machine.State.System, machine.State.Log, machine.Services), 0);
        const SystemInfo& info = machine.State.System;
        EXPECT_EQ(info.CpuArchitecture, c.architecture) << c.identifier;
        EXPECT_EQ(info.CpuFamily, c.family) << c.identifier;
        EXPECT_EQ(info.CpuModel, c.model) << c.identifier;
        EXPECT_EQ(info.CpuStepping, c.stepping) << c.identifier;
        EXPECT_EQ(RuleFilePath(info), "rules_for_soc\\Family_" + std::to_string(c.family) +
                                          "_Model_" + std::to_string(c.model) +
                                          "_Microsoft_Windows_10.xml")
            << c.identifier;
    }
}

// The manufacturer and product name come from the BIOS key when they are text,
// and leave the log as it was whatever the key holds.
TEST(ReadSystemInfo, ReadsTheMachineNameQuietly)
{
    struct Case {
        nlohmann::json manufacturer, product;  // null: absent
        const char* expectedManufacturer;
        const char* expectedProduct;
    };
    const Case cases[] = {
        {"Quillon Systems", "Vantor 14 G3", "Quillon Systems", "Vantor 14 G3"},
        {nullptr, nullptr, "Unknown", "Unknown"},
        {"", "Vantor", "Unknown", "Vantor"},
        {7, "Vantor", "Unknown", "Vantor"},
    };
    std::string plainLog;
    for (const Case& c : cases) {
        nlohmann::json snapshot = nlohmann::json::parse(test::BasicSnapshot());
        auto& bios = snapshot["registry"]["hardware\\description\\system\\bios"];
        if (!c.manufacturer.is_null()) {
            bios["systemmanufacturer"] = c.manufacturer;
        }
        if (!c.product.is_null()) {
            bios["systemproductname"] = c.product;
        }
        test::TestMachine machine(snapshot.dump());
        machine.CaptureLog();
        ASSERT_EQ(ReadSystemInfo(machine.State.System, machine.State.Log, machine.Services), 0);
        EXPECT_EQ(machine.State.System.Manufacturer, c.expectedManufacturer);
        EXPECT_EQ(machine.State.System.ProductName, c.expectedProduct);
        // Up to the profile line, which names the test's own folder.
        const std::string log = machine.LogSink.str();
        const std::string identity = log.substr(0, log.find("INFORMATION:: User Profile"));
        if (plainLog.empty()) {
            plainLog = identity;
        }
        EXPECT_EQ(identity, plainLog);
    }
}

}  // namespace
}  // namespace dormex
