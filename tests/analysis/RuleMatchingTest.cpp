#include <gtest/gtest.h>

#include "AnalysisFixture.h"
#include "analysis/Patterns.h"

namespace dormex {
namespace {

using Keys = std::vector<std::string>;

// Which rule takes a device, and the order of rules and the list of the
// unmatched (the NIL entry), show in the sample scenario's rule match list.
// A pattern the matcher refuses or gives up on matches nothing (the pattern
// tests), but a key equal to it is still taken.
TEST(MatchDevices, ARuleTakesADeviceByServiceOrPattern)
{
    struct Case {
        const char* name;
        std::string ruleService;
        std::string ruleRegex;
        std::string deviceService;  // "-" for a device without registration
        bool taken;
    };
    const Case cases[] = {
        {"pattern alone", "", ".*\\.HDAS", "HDAudBus", true},
        {"service alone", "HDAudBus", "", "HDAudBus", true},
        {"service ignoring case", "HDAUDBUS", "", "hdaudbus", true},
        {"service differs, pattern matches", "IntcAudioBus", ".*\\.HDAS", "HDAudBus", false},
        {"no registration: pattern decides", "IntcAudioBus", ".*\\.HDAS", "-", true},
        {"empty registered service: pattern decides", "IntcAudioBus", ".*\\.HDAS", "", true},
        {"no registration, service only", "HDAudBus", "", "-", false},
        {"neither", "", "", "HDAudBus", false},
        {"pattern must match the whole key", "", "HDAS", "HDAudBus", false},
        {"key compared as text", "", "\\_SB.PC00.HDAS", "x", true},
    };
    for (const Case& c : cases) {
        test::AnalysisFixture fixture;
        fixture.AddRule("audio", c.ruleRegex, c.ruleService, "always");
        if (std::string(c.deviceService) == "-") {
            fixture.AddPep("\\_SB.PC00.HDAS", {3}, {0});
        } else {
            fixture.AddPoFx("\\_SB.PC00.HDAS", c.deviceService);
        }
        fixture.Match();
        EXPECT_EQ(fixture.KeysOf(0), c.taken ? Keys{"\\_SB.PC00.HDAS"} : Keys{}) << c.name;
        EXPECT_EQ(fixture.KeysOf(1), c.taken ? Keys{} : Keys{"\\_SB.PC00.HDAS"}) << c.name;
    }
}

// A failing pattern is named once per rule; one that keeps giving up is not
// tried again, so however many ids a machine has it costs a few give-ups.
TEST(PatternCache, NamesAFailingPatternOnceAndBoundsItsGiveUps)
{
    test::LogCapture capture;
    PatternCache patterns;
    Rule rule;
    rule.Class = "audio";
    rule.ServiceName = "hdaudbus";
    const std::string slow = "(a|aa)+$|XHC0";
    const std::string runaway = std::string(1021, 'a') + "!";
    EXPECT_TRUE(patterns.Matches(rule, slow, "XHC0", capture.Log));
    for (uint32_t i = 0; i <= PatternCache::GiveUpsPerRun; ++i) {
        EXPECT_FALSE(patterns.Matches(rule, slow, runaway, capture.Log));
    }
    EXPECT_FALSE(patterns.Matches(rule, slow, "XHC0", capture.Log));
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(patterns.Matches(rule, "(HDAS", "(HDAS", capture.Log));
    }
    const std::string log = capture.Text();
    const std::string named = " (class audio, service name hdaudbus)";
    EXPECT_EQ(log,
              "\nWARNING:: Regex of rule took too many steps and counts as no match: " + slow +
                  " on " + runaway + named +
                  "; after 3 such texts it takes none for the rest of the run"
                  "\nWARNING:: Regex of rule is not a valid pattern; device ids are compared with "
                  "it as plain text: (HDAS" +
                  named + ": missing closing parenthesis at offset 5");
}

TEST(MatchRules, ChoosesTheOsEntryByItsBuild)
{
    struct Case {
        std::vector<std::string> builds;
        std::string osBuild;
        size_t chosen;
    };
    const Case cases[] = {
        {{"19045", "22621"}, "22621", 1}, {{"19045", "22621"}, "26100", 1},
        {{"", "22621"}, "22621", 0},      {{"19045", "", "22621"}, "22621", 1},
        {{"226", "22621"}, "22621", 0},
    };
    for (const Case& c : cases) {
        test::AnalysisFixture fixture;
        fixture.rules.OsEntries.clear();
        for (size_t i = 0; i < c.builds.size(); ++i) {
            fixture.AddRule("entry" + std::to_string(i), ".*", "", "always", {{"3", "0"}}, false,
                            i);
            fixture.rules.OsEntries[i].Build = c.builds[i];
        }
        fixture.system.OsBuild = c.osBuild;
        fixture.Match();
        ASSERT_EQ(fixture.analysis.CdrList.size(), 2u);
        EXPECT_EQ(fixture.analysis.CdrList[0].Rule->Class, "entry" + std::to_string(c.chosen))
            << c.osBuild;
        EXPECT_EQ(fixture.analysis.CdrList[1].Rule, nullptr);
    }
}

// The sample scenario shows a parent rule redirected to its root port's
// registration; here the walks that cannot finish.
TEST(ResolveParentRule, LeavesThePatternWhenTheWalkCannotFinish)
{
    struct Case {
        const char* name;
        std::string serviceOfFirst;
        std::string parentOfDrive;  // the drive's Parent
        std::string rootPortDescription;
        std::string registeredPath;  // of the one registration
        bool secondChanged;
        std::string serviceAfter;
    };
    const Case cases[] = {
        {"no OS device with the service", "absent", "PCI\\PORT", "PCI Express Root Port",
         "PCI\\PORT", true, "absent"},
        {"parent is the device itself", "stornvme", "PCI\\DRIVE", "x", "PCI\\PORT", false,
         "stornvme"},
        // Without a registration of the root port the service is dropped.
        {"root port not registered", "stornvme", "PCI\\PORT", "PCI Express Root Port", "PCI\\XHCI",
         true, ""},
    };
    for (const Case& c : cases) {
        test::AnalysisFixture fixture;
        Rule& first =
            fixture.AddRule("storage", ".*\\.NVME", c.serviceOfFirst, "always", {{"3", "0"}}, true);
        Rule& second = fixture.AddRule("zephlink", "", "zlkport", "always", {{"3", "0"}}, true);
        fixture.AddPo("stornvme", "PCI\\DRIVE");
        fixture.AddPo("zlkport", "PCI\\ZLK");
        fixture.AddDevice("PCI\\DRIVE", "Standard NVM Express Controller", c.parentOfDrive);
        fixture.AddDevice("PCI\\ZLK", "Zephlink", "PCI\\PORT");
        fixture.AddDevice("PCI\\PORT", c.rootPortDescription, "ACPI\\PNP0A08\\0");
        fixture.AddPoFx("\\_SB.PC00.RP09", "pci", c.registeredPath);
        fixture.Match();
        EXPECT_EQ(first.Regex, ".*\\.NVME") << c.name;
        EXPECT_EQ(first.ServiceName, c.serviceAfter) << c.name;
        EXPECT_EQ(second.ServiceName.empty(), c.secondChanged) << c.name;
    }
}

const std::string WifiRegistry = R"(, "registry": {
  "system\\currentcontrolset\\services\\vwifibus\\enum": {"0": "PCI\\VEN_8A01&DEV_2725\\4&1&0&00E4"},
  "SYSTEM\\CurrentControlSet\\Enum\\PCI\\VEN_8A01&DEV_2725\\4&1&0&00E4": {"Service": "hvwlan"}})";

// The rule lists the adapter once, also where its own service name lists
// the adapter or another device already, and the checks report it once.
TEST(WifiSpecialCase, AddsTheAdapterBehindTheVirtualBus)
{
    const std::string adapter = "\\_SB.PC00.RP04.PXSX";
    const std::string other = "\\_SB.PC00.XYZ0";
    const std::string spare = "\\_SB.PC00.ZZZZ";  // keeps the others off the NIL's end
    struct Case {
        std::string registry;
        std::string ruleService;
        Keys taken;
        Keys unmatched;
        Keys osDevices;
        std::vector<std::string> errors;
    };
    const Keys none;
    const Case cases[] = {
        {WifiRegistry, "", {adapter}, {other, spare}, {"hvwlan"}, {"3:WiFi-Radio:1"}},
        {"", "", none, {adapter, other, spare}, none, {}},
        {R"(, "registry": {"system\\currentcontrolset\\services\\vwifibus\\enum": {"0": "PCI\\X"}})",
         "",
         none,
         {adapter, other, spare},
         none,
         {}},
        {WifiRegistry, "hvwlan", {adapter}, {other, spare}, {"hvwlan"}, {"3:WiFi-Radio:1"}},
        {WifiRegistry, "other", {other, adapter}, {spare}, {"other", "hvwlan"}, {"3:WiFi-Radio:2"}},
    };
    for (const Case& c : cases) {
        test::AnalysisFixture fixture(c.registry);
        fixture.AddRule("WiFi-Radio", c.ruleService.empty() ? ".*\\.CNVW" : "", c.ruleService,
                        "always");
        fixture.AddPoFx(adapter, "hvwlan");
        fixture.AddPoFx(other, "other");
        fixture.AddPoFx(spare, "spare");
        fixture.AddPo("hvwlan", "PCI\\VEN_8A01&DEV_2725\\4&1&0&00E4");
        fixture.AddPo("other", "PCI\\VEN_8A01&DEV_0001\\3&1&0&08");
        fixture.Check();
        const std::string about = c.registry + " rule service " + c.ruleService;
        EXPECT_EQ(fixture.KeysOf(0), c.taken) << about;
        EXPECT_EQ(fixture.KeysOf(1), c.unmatched) << about;
        Keys osDevices;
        for (const PoDeviceEntry* entry : fixture.analysis.CdrList[0].PoDeviceMatches) {
            osDevices.push_back(entry->FriendlyName);
        }
        EXPECT_EQ(osDevices, c.osDevices) << about;
        EXPECT_EQ(fixture.Errors(), c.errors) << about;
    }
}

TEST(ZephlinkSpecialCase, RelaxesTheRuleWhenTheControllerCannotIdle)
{
    const std::string path = "PCI\\VEN_5A4C&DEV_0C01\\4&3&0&00E0";
    struct Case {
        const char* name;
        std::string registry;
        int32_t problem;
        bool onParent;
        bool relaxed;
    };
    const std::string idle =
        R"(, "registry": {")" +
        std::string(
            "system\\\\CurrentControlSet\\\\Enum\\\\PCI\\\\VEN_5A4C&DEV_0C01\\\\4&3&0&00E0\\\\Device Parameters\\\\WDF") +
        R"(": {"IdleInWorkingState": )";
    const Case cases[] = {
        {"value missing", "", 10, true, true},
        {"value 1", idle + "1}}", 10, true, false},
        {"no problem code", "", 0, true, false},
        {"not a parent rule", "", 10, false, false},
    };
    for (const Case& c : cases) {
        test::AnalysisFixture fixture(c.registry);
        Rule& rule = fixture.AddRule("zephlink", "", "zlkport", "always", {{"3", "0"}, {"3", "0"}},
                                     c.onParent);
        fixture.AddPo("zlkport", path);
        // Its parent is no OS power device: the parent-rule step stops and keeps the service.
        fixture.AddDevice(path, "Zephlink ZL-200 Port Controller", "PCI\\VEN_8A01&DEV_7A3E\\3&1",
                          c.problem);
        fixture.Match();
        EXPECT_EQ(rule.PlatformStates[1].DState, c.relaxed ? "0" : "3") << c.name;
        EXPECT_EQ(rule.PlatformStates[1].FState, c.relaxed ? "1" : "0") << c.name;
    }
}

}  // namespace
}  // namespace dormex
