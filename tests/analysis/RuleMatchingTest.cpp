#include <gtest/gtest.h>

#include "AnalysisFixture.h"

namespace dormex {
namespace {

using Keys = std::vector<std::string>;

TEST(MatchDevices, FirstAcceptingRuleTakesTheDevice)
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
        {"service and pattern", "HDAudBus", ".*\\.HDAS", "HDAudBus", true},
        {"service differs, pattern matches", "IntcAudioBus", ".*\\.HDAS", "HDAudBus", false},
        {"service differs, no pattern", "IntcAudioBus", "", "HDAudBus", false},
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

TEST(MatchDevices, LogsTheKindOfMatchAndTheUnmatched)
{
    test::AnalysisFixture fixture;
    fixture.AddRule("audio", "", "HDAUDBUS", "always");
    fixture.AddRule("storage", ".*\\.SAT0", "", "always");
    fixture.AddRule("audio", ".*\\.HDAS", "", "always");  // too late for HDAS
    fixture.AddRule("storage", "\\_SB.PC00.RP09", "", "always");
    fixture.AddPoFx("\\_SB.PC00.HDAS", "HdAudBus");
    fixture.AddPoFx("\\_SB.PC00.SAT0", "storahci");
    fixture.AddPoFx("\\_SB.PC00.RP09", "pci");
    fixture.AddPoFx("\\_SB.PC00.LPCB", "lpc");
    fixture.Match();
    EXPECT_EQ(fixture.KeysOf(0), Keys{"\\_SB.PC00.HDAS"});
    EXPECT_EQ(fixture.KeysOf(1), Keys{"\\_SB.PC00.SAT0"});
    EXPECT_EQ(fixture.KeysOf(2), Keys{});
    EXPECT_EQ(fixture.KeysOf(3), Keys{"\\_SB.PC00.RP09"});
    EXPECT_EQ(fixture.KeysOf(4), Keys{"\\_SB.PC00.LPCB"});
    for (
        const char* line :
        {"\nINFORMATION:: match found for Class with service name: hdaudbuswith rule hdaudbus\n",
         "\nINFORMATION:: match found for Class with Regex: \\_SB.PC00.SAT0with regex: .*\\.SAT0\n",
         "\nINFORMATION:: match found for Class with comparing.: \\_SB.PC00.RP09with "
         "regex-string: \\_SB.PC00.RP09\n",
         "\nWARNING:: No rule match found for Acpi Name: \\_SB.PC00.LPCB\n",
         "\nINFORMATION:: Adding Rule to cdr. Class: audioservicename/regex: HDAUDBUS/\n"}) {
        EXPECT_TRUE(fixture.Logged(line)) << line;
    }
}

TEST(MatchDevices, PatternThatFailsIsNamedOnceAndMatchesOnlyByComparing)
{
    const std::string runaway = std::string(1021, 'a') + "!";
    struct Case {
        std::string pattern;
        std::string id;  // of two PoFx devices and one OS device
        Keys keys;
        std::string warning;
    };
    const Case cases[] = {
        {"(HDAS", "(HDAS", {"(HDAS"},
         "\nWARNING:: Regex of rule is not a valid pattern; device ids are compared with it as plain text: (HDAS (class "
         "audio, service name ): missing closing parenthesis at offset 5\n"},
        {"(a|aa)+", runaway, {},
         "\nWARNING:: Regex of rule took too many steps and counts as no match: (a|aa)+ on " +
             runaway + " (class audio, service name )\n"},
    };
    for (const Case& c : cases) {
        test::AnalysisFixture fixture;
        fixture.AddRule("audio", c.pattern, "", "always");
        fixture.AddPoFx(c.id, "x");
        fixture.AddPoFx("\\_SB.HDAS", "y");
        fixture.AddPo(c.id, "PCI\\A");
        fixture.Match();
        EXPECT_EQ(fixture.KeysOf(0), c.keys) << c.pattern;
        EXPECT_EQ(fixture.analysis.CdrList[0].PoDeviceMatches.size(), 0u);
        std::string log = fixture.Log();
        size_t first = log.find(c.warning);
        ASSERT_NE(first, std::string::npos) << log;
        EXPECT_EQ(log.find(c.warning, first + 1), std::string::npos);
    }
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

// A drive below a root port, and the registrations of both.
void AddDriveBehindRootPort(test::AnalysisFixture& fixture)
{
    const std::string port = "PCI\\VEN_8A01&DEV_7A38\\3&1&0&E8";
    const std::string drive = "PCI\\VEN_1E0F&DEV_0001\\4&2&0&00E8";
    fixture.AddPo("stornvme", drive);
    fixture.AddDevice(drive, "Standard NVM Express Controller", port);
    fixture.AddDevice(port, "PCI Express Root Port", "ACPI\\PNP0A08\\0");
    fixture.AddPoFx("\\_SB.PC00.RP07", "pci", "PCI\\VEN_8A01&DEV_7A30\\3&1&0&E0");
    fixture.AddPoFx("\\_SB.PC00.RP09", "pci", port);
    fixture.AddPep("\\_SB.PC00.RP09", {3}, {0});
}

TEST(ResolveParentRule, RedirectsTheRuleToTheRootPortsRegistration)
{
    test::AnalysisFixture fixture;
    Rule& rule = fixture.AddRule("storage", ".*\\.NVME", "stornvme", "always", {{"3", "0"}}, true);
    fixture.AddRule("Integrated PCI Root Port", ".*\\.RP0[1-9]", "pci", "requiredNo");
    AddDriveBehindRootPort(fixture);
    fixture.Match();
    EXPECT_EQ(rule.Regex, "\\_SB.PC00.RP09");
    EXPECT_EQ(rule.ServiceName, "");
    EXPECT_EQ(fixture.KeysOf(0), Keys{"\\_SB.PC00.RP09"});
    EXPECT_EQ(fixture.KeysOf(1), Keys{"\\_SB.PC00.RP07"});
    EXPECT_TRUE(fixture.Logged("\nINFORMATION:: Rule on Parent Detected forstorage\n"));
    const std::string walk =
        "\nINFORMATION:: Device Instance Path:PCI\\VEN_1E0F&DEV_0001\\4&2&0&00E8"
        "\nINFORMATION:: Finding Root Port :PCI\\VEN_1E0F&DEV_0001\\4&2&0&00E8Compared: Standard "
        "NVM Express Controller"
        "\nINFORMATION:: Finding Root Port :PCI\\VEN_8A01&DEV_7A38\\3&1&0&E8Compared: PCI Express "
        "Root Port"
        "\nINFORMATION:: Found Match for Root Port :ACPI\\PNP0A08\\0"
        "\nINFORMATION:: Checking :PCI\\VEN_8A01&DEV_7A30\\3&1&0&E0Compared: -1"
        "\nINFORMATION:: Checking :PCI\\VEN_8A01&DEV_7A38\\3&1&0&E8Compared: 0"
        "\nINFORMATION:: Found Match :PCI\\VEN_8A01&DEV_7A38\\3&1&0&E8"
        "\nINFORMATION:: new Regex: \\_SB.PC00.RP09";
    EXPECT_TRUE(fixture.Logged(walk)) << fixture.Log();
}

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
        {"parent not an OS power device", "stornvme", "PCI\\OTHER", "PCI Express Root Port",
         "PCI\\PORT", false, "stornvme"},
        {"no root port above", "stornvme", "PCI\\PORT", "PCI bridge", "PCI\\PORT", false,
         "stornvme"},
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

TEST(RemoveFromNil, NeverLooksAtTheLastEntry)
{
    test::AnalysisFixture fixture;
    fixture.analysis.CdrList.emplace_back();
    DeviceMatch a, b, c;
    std::vector<DeviceMatch*>& nil = fixture.analysis.NilCdr().DeviceMatches;

    RemoveFromNil(&a, fixture.analysis, fixture.capture.Log);
    nil = {&a};
    RemoveFromNil(&a, fixture.analysis, fixture.capture.Log);
    EXPECT_EQ(nil.size(), 1u);
    nil = {&a, &b, &c};
    RemoveFromNil(&c, fixture.analysis, fixture.capture.Log);
    EXPECT_EQ(nil, (std::vector<DeviceMatch*>{&a, &b, &c}));
    RemoveFromNil(&b, fixture.analysis, fixture.capture.Log);
    EXPECT_EQ(nil, (std::vector<DeviceMatch*>{&a, &c}));
    EXPECT_EQ(fixture.Log(),
              "\nINFORMATION:: Removing Rule from CDR:\nINFORMATION:: Device Matches is empty!!"
              "\nINFORMATION:: Removing Rule from CDR:"
              "\nINFORMATION:: Removing Rule from CDR:"
              "\nINFORMATION:: Removing Rule from CDR:\nINFORMATION:: Matching PCDR found!! 1");
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
        {R"(, "registry": {"system\\currentcontrolset\\services\\vwifibus\\enum": {"0": "USB\\VID_1"}})",
         "", none, {adapter, other, spare}, none, {}},
        {R"(, "registry": {"system\\currentcontrolset\\services\\vwifibus\\enum": {"0": "PCI\\X"}})",
         "", none, {adapter, other, spare}, none, {}},
        {WifiRegistry, "hvwlan", {adapter}, {other, spare}, {"hvwlan"}, {"3:WiFi-Radio:1"}},
        {WifiRegistry, "other", {other, adapter}, {spare}, {"other", "hvwlan"},
         {"3:WiFi-Radio:2"}},
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
    const std::string key = "system\\CurrentControlSet\\Enum\\" + path + "\\Device Parameters\\WDF";
    struct Case {
        const char* name;
        std::string registry;
        int32_t problem;
        bool onParent;
        bool relaxed;
        bool readsKey;
        bool supportedLine;
    };
    const std::string idle =
        R"(, "registry": {")" +
        std::string(
            "system\\\\CurrentControlSet\\\\Enum\\\\PCI\\\\VEN_5A4C&DEV_0C01\\\\4&3&0&00E0\\\\Device Parameters\\\\WDF") +
        R"(": {"IdleInWorkingState": )";
    const Case cases[] = {
        {"value missing", "", 10, true, true, true, false},
        {"value 1", idle + "1}}", 10, true, false, true, true},
        {"value 0", idle + "0}}", 10, true, false, true, false},
        {"value 0x31", idle + "49}}", 10, true, false, true, false},
        {"no problem code", "", 0, true, false, false, false},
        {"not a parent rule", "", 10, false, false, false, false},
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
        EXPECT_EQ(fixture.Logged("\nINFORMATION:: ZLK Register found at: " + key), c.readsKey)
            << c.name;
        EXPECT_EQ(fixture.Logged("\nINFORMATION:: ZLK RTD3 Supported."), c.supportedLine) << c.name;
        EXPECT_EQ(fixture.Logged("\nINFORMATION:: ZLK RTD3 NOT Supported."
                                 "\nINFORMATION:: Rules modified to D: 0F state: 1"
                                 "\nINFORMATION:: Rules modified to D: 0F state: 1"),
                  c.relaxed)
            << c.name;
    }
}

TEST(ZephlinkSpecialCase, PathWithoutEnumeratorGetsPciPrefix)
{
    test::AnalysisFixture fixture;
    fixture.AddRule("zephlink", "", "zlkport", "always", {{"3", "0"}}, true);
    fixture.AddPo("zlkport", "VEN_5A4C&DEV_0C01\\4");
    fixture.AddDevice("VEN_5A4C&DEV_0C01\\4", "Zephlink", "", 10);
    fixture.Match();
    EXPECT_TRUE(
        fixture.Logged("\nINFORMATION:: ZLK Register found at: "
                       "system\\CurrentControlSet\\Enum\\PCI\\VEN_5A4C&DEV_0C01\\4\\Device "
                       "Parameters\\WDF"));
}

}  // namespace
}  // namespace dormex
