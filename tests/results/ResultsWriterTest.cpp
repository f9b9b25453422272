#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "TestPlatform.h"
#include "analysis/ConstraintAnalysis.h"
#include "lpit/Lpit.h"
#include "results/ResultsWriter.h"
#include "results/RunOutcome.h"
#include "rules/RuleSet.h"
#include "sysinfo/SystemInfo.h"
#include "trace/RundownLists.h"

namespace dormex {
namespace {

using Json = nlohmann::json;

// The records of one run, empty until a test fills them.
struct RunRecords {
    test::LogCapture capture;
    SystemInfo System;
    RunOutcome Outcome;
    LpitTable Lpit;
    std::string LpitStatusText;
    RundownLists Rundowns;
    ErrorRegistry Errors;
    DevicePropertiesByInstancePath Devices;
    std::string Capture = "live";

    Json Results()
    {
        ResultsContents contents{System,   Outcome, Lpit,    LpitStatusText,
                                 Rundowns, Errors,  Devices, Capture};
        return Json::parse(WriteResults(contents, "2026-05-01T10:20:30Z"));
    }
};

// Every device a finding can name, the states read as the checks read them,
// in the report's order: newest error first, its devices in turn, an error
// without a device once.
TEST(WriteResults, ListsFindingsAsTheReportDoes)
{
    RunRecords run;
    Rule audio;
    audio.Class = "audio";
    audio.Regex = ".*\\.HDAS";
    audio.ServiceName = "HDAudBus";
    audio.RuleType = "always";
    audio.PlatformStateCount = 2;
    audio.PlatformStates = {{0, " 3x", "0"}, {1, "3", "1"}, {2, "9", "9"}};
    const PepDeviceRundown pep{"1", "\\_SB.PC00.HDAS", 2, {3, 0, 0}};
    const PepComponentRundown component{"1", "C", 2, {0, 1, 0}};
    const PepDeviceRundown lonePep{"2", "\\_SB.PC00.THC0", 1, {3, 0, 0}};
    const PoFxDeviceRundown pofx{0, "\\_SB.PC00.XHCI", "PCI\\X", "USBXHCI"};
    const DeviceMatch full{&component, &pep, nullptr};
    const DeviceMatch noComponent{nullptr, &lonePep, nullptr};
    const DeviceMatch registeredOnly{nullptr, nullptr, &pofx};
    const PoDeviceEntry bang{"0x1", "PCI\\B", "Bang"};
    const PoDeviceEntry unknown{"0x2", "PCI\\C", "Unknown"};
    run.Devices["PCI\\B"].ProblemCode = 28;
    // Found by the PoFx instance path, and by the PEP's ACPI name through the
    // device's ACPI location path.
    run.Devices["PCI\\X"].DeviceDesc = "Host";
    DeviceProperties& touch = run.Devices["PCI\\T"];
    touch.DeviceDesc = "Desc";
    touch.DriverInfPath = "oem1.inf";
    touch.DriverProvider = "Tovik";
    touch.DriverVersion = "1.2";
    touch.FriendlyName = "Touch";
    touch.HardwareIds = "PCI\\T1,PCI\\T";
    touch.LocationPaths = "PCIROOT(0)#PCI(1000),ACPI(_SB_)#ACPI(PC00)#ACPI(THC0)";

    DebugLog& log = run.capture.Log;
    run.Errors.AddError(PowerStateMismatch, &audio, &full, nullptr, log);
    run.Errors.AddError(ConstraintWithoutPofx, nullptr, &noComponent, nullptr, log);
    run.Errors.AddError(DeviceProblemCode, nullptr, nullptr, &bang, log);
    run.Errors.AddError(PowerStateMismatch, &audio, &registeredOnly, nullptr, log);
    run.Errors.AddError(DeviceProblemCode, nullptr, nullptr, &unknown, log);
    run.Errors.AddError(StorageCacheConstraintMissing, nullptr, nullptr, nullptr, log);

    // A finding's members; those not given are null.
    auto finding = [](const std::string& members) {
        Json all = Json::parse(
            R"({"device": null, "class": null, "rule": null, "expected": null, "actual": null})");
        all.update(Json::parse("{" + members + "}"));
        return all;
    };
    // A device's identity; those not given are null.
    auto info = [](const std::string& members) {
        Json all = Json::parse(R"({"name": null, "hardwareId": null, "driverProvider": null,
            "driverVersion": null, "infName": null, "locationPath": null})");
        all.update(Json::parse("{" + members + "}"));
        return all.dump();
    };
    const std::string audioRule =
        R"("class": "audio", "expected": [{"D": 3, "F": 0}, {"D": 3, "F": 1}],
        "rule": {"regex": ".*\\.HDAS", "serviceName": "HDAudBus", "type": "always"})";
    const Json findings = Json::array({
        finding(R"("kind": 5, "kindName": "StorageCacheConstraintMissing",
                   "actionBy": "driver vendor")"),
        finding(R"("kind": 6, "kindName": "DeviceProblemCode", "device": "PCI\\B",
                   "problemCode": 28, "actionBy": "driver vendor", "deviceInfo": )" +
                info(R"("instancePath": "PCI\\B")")),
        finding(R"("kind": 6, "kindName": "DeviceProblemCode", "device": "PCI\\C",
                   "actionBy": "driver vendor")"),
        finding(R"x("kind": 0, "kindName": "ConstraintWithoutPofx", "device": "\\_SB.PC00.THC0",
                   "actual": [{"D": 3, "F": null}], "actionBy": "driver vendor", "deviceInfo":
                   {"name": "Touch", "instancePath": "PCI\\T", "hardwareId": "PCI\\T1",
                    "driverProvider": "Tovik", "driverVersion": "1.2", "infName": "oem1.inf",
                    "locationPath": "PCIROOT(0)#PCI(1000)"})x"),
        finding(R"("kind": 2, "kindName": "PowerStateMismatch", "device": "\\_SB.PC00.HDAS",
                   "actual": [{"D": 3, "F": 0}, {"D": 0, "F": 1}], "actionBy": "BIOS", )" +
                audioRule),
        finding(R"("kind": 2, "kindName": "PowerStateMismatch", "device": "\\_SB.PC00.XHCI",
                   "actionBy": "BIOS", "deviceInfo": )" +
                info(R"("name": "Host", "instancePath": "PCI\\X")") + ", " + audioRule),
    });
    const Json results = run.Results();
    EXPECT_EQ(results["findings"], findings);
    EXPECT_EQ(results["issues"], 6);
}

// How the run ended shows in every scenario's results file; here which rule
// file it used and why it has no LPIT states.
TEST(WriteResults, NamesTheRuleFileAndWhyNoLpitWasRead)
{
    struct Case {
        RunOutcome outcome;
        std::string lpitStatusText;
        std::string expected;  // members of the results
    };
    const std::string stoppedEarly =
        R"("lpit": {"read": false, "reason": "The run stopped before it read the LPIT."})";
    const Case cases[] = {
        {{"", false, false, RunStop{"no-administrator", 0, "x"}},
         "",
         R"({"ruleFile": null, )" + stoppedEarly + "}"},
        {{".\\rules_for_soc\\T.xml", true, false, std::nullopt},
         "LPIT cannot be retrived.",
         R"({"ruleFile": {"path": ".\\rules_for_soc\\T.xml", "chosenBy": "test-switch"},
             "lpit": {"read": false, "reason": "LPIT cannot be retrived."}})"},
        {{"rules_for_soc\\F.xml", false, true, std::nullopt},
         "",
         R"({"ruleFile": {"path": "rules_for_soc\\F.xml", "chosenBy": "machine"},
             "lpit": {"read": true, "states": []}})"},
    };
    for (const Case& c : cases) {
        RunRecords run;
        run.Outcome = c.outcome;
        run.LpitStatusText = c.lpitStatusText;
        const Json results = run.Results();
        const Json expected = Json::parse(c.expected);
        for (const auto& [member, value] : expected.items()) {
            EXPECT_EQ(results[member], value) << member;
        }
    }
}

TEST(WriteResults, DescribesTheMachineAndItsLpit)
{
    RunRecords run;
    run.System = {.AoAc = true,
                  .CpuArchitecture = "x64",
                  .CpuFamily = 6,
                  .CpuModel = 170,
                  .CpuStepping = 4,
                  .OsBuild = "22631",
                  .BiosVersion = "1.2",
                  .BiosVendor = "Quillon",
                  .BiosReleaseDate = "05/14/2026",
                  .UserProfile = {}};
    run.Outcome.LpitRead = true;
    run.Lpit.Descriptors.push_back({.UniqueId = 1,
                                    .Flags = 1,
                                    .EntryTrigger = {127, 1, 2, 0, 0x60},
                                    .Residency = 30000,
                                    .Latency = 3000,
                                    .ResidencyCounter = {0, 32, 0, 3, 0xFFFFFFFFFE00031CULL},
                                    .ResidencyCounterFrequency = 10000000});
    run.Rundowns.PoFxRundownList.resize(3);
    run.Rundowns.PepDeviceRundownList.resize(2);
    run.Rundowns.PoDeviceList.resize(5);

    const Json results = run.Results();
    EXPECT_EQ(results["format"], "dormex-results/1");
    EXPECT_EQ(results["time"], "2026-05-01T10:20:30Z");
    EXPECT_EQ(results["capture"], "live");
    EXPECT_EQ(results["machine"],
              Json::parse(R"({"cpu": {"architecture": "x64", "family": 6, "model": 170,
                  "stepping": 4}, "osBuild": "22631", "osName": "Microsoft_Windows_10",
                  "bios": {"vendor": "Quillon", "version": "1.2", "releaseDate": "05/14/2026"},
                  "aoac": true, "manufacturer": "Unknown", "productName": "Unknown"})"));
    EXPECT_EQ(results["lpit"]["states"], Json::parse(R"([{"uniqueId": 1, "type": 0, "flags": 1,
        "residency": 30000, "latency": 3000,
        "entryTrigger": {"addressSpaceId": 127, "registerBitWidth": 1, "registerBitOffset": 2,
            "accessSize": 0, "address": "0x60"},
        "residencyCounter": {"addressSpaceId": 0, "registerBitWidth": 32, "registerBitOffset": 0,
            "accessSize": 3, "address": "0xfffffffffe00031c"},
        "residencyCounterFrequency": 10000000}])"));
    EXPECT_EQ(results["devices"], Json::parse(R"({"pofx": 3, "pep": 2, "os": 5})"));
    EXPECT_EQ(results["issues"], 0);
    EXPECT_EQ(results["findings"], Json::array());
}

}  // namespace
}  // namespace dormex
