#include <gtest/gtest.h>

#include "AnalysisFixture.h"

namespace dormex {
namespace {

using Errors = std::vector<std::string>;

// The kinds the sample machine shows (a constraint without a registration, a
// class invalidator that fires) are in its end-to-end scenario.
TEST(RunChecks, RecordsEachKindOfDisagreement)
{
    struct Case {
        const char* name;
        void (*build)(test::AnalysisFixture&);
        Errors errors;  // "type:rule class:devices", newest first
    };
    const Case cases[] = {
        {"registered but not constrained under always and dynamic",
         [](test::AnalysisFixture& f) {
             f.AddRule("lowPowerIo", ".*\\.XHCI", "", "always");
             f.AddRule("imaging", ".*\\.IPU0", "", "dynamic");
             f.AddPoFx("\\_SB.PC00.XHCI", "USBXHCI");
             f.AddPoFx("\\_SB.PC00.IPU0", "hvcamera");
         },
         {"3:imaging:1", "3:lowPowerIo:1"}},
        {"notRequired: registered alone is fine, states are still compared",
         [](test::AnalysisFixture& f) {
             f.AddRule("lowPowerIo", ".*\\.UA0[0-2]", "", "notRequired");
             f.AddPoFx("\\_SB.PC00.UA00", "hvserialio");
             f.AddPoFx("\\_SB.PC00.UA01", "hvserialio");
             f.AddPep("\\_SB.PC00.UA01", {0}, {0});
         },
         {"2:lowPowerIo:1"}},
        {"mismatch found at state 1",
         [](test::AnalysisFixture& f) {
             f.AddRule("imaging", ".*\\.IPU0", "", "dynamic", {{"3", "0"}, {"0", "0"}});
             f.AddPoFx("\\_SB.PC00.IPU0", "hvcamera");
             f.AddPep("\\_SB.PC00.IPU0", {3, 3}, {0, 0});
         },
         {"2:imaging:1"}},
        {"D-state text read as a decimal number",
         [](test::AnalysisFixture& f) {
             f.AddRule("audio", ".*\\.HDAS", "", "always", {{" 3x", "0"}});
             f.AddPoFx("\\_SB.PC00.HDAS", "HDAudBus");
             f.AddPep("\\_SB.PC00.HDAS", {3}, {0});
         },
         {}},
        {"F-state differs",
         [](test::AnalysisFixture& f) {
             f.AddRule("audio", ".*\\.HDAS", "", "always", {{"3", "1"}});
             f.AddPoFx("\\_SB.PC00.HDAS", "HDAudBus");
             f.AddPep("\\_SB.PC00.HDAS", {3}, {0});
         },
         {"2:audio:1"}},
        {"no component: the F-state is not compared",
         [](test::AnalysisFixture& f) {
             f.AddRule("audio", ".*\\.HDAS", "", "always", {{"3", "1"}});
             f.AddPoFx("\\_SB.PC00.HDAS", "HDAudBus");
             f.AddPep("\\_SB.PC00.HDAS", {3});
         },
         {}},
        {"only three states have values to compare",
         [](test::AnalysisFixture& f) {
             f.AddRule("audio", ".*\\.HDAS", "", "always",
                       {{"3", "0"}, {"3", "0"}, {"3", "0"}, {"9", "9"}});
             f.AddPoFx("\\_SB.PC00.HDAS", "HDAudBus");
             f.AddPep("\\_SB.PC00.HDAS", {3, 3, 3}, {0, 0, 0});
         },
         {}},
        {"constrained under requiredNo: pci, storage and the rest",
         [](test::AnalysisFixture& f) {
             f.AddRule("Integrated PCI Root Port", ".*\\.RP0[1-9]", "pci", "requiredNo");
             f.AddRule("storage", ".*\\.SAT0", "", "requiredNo");
             f.AddRule("power", ".*\\.PEPD", "", "requiredNo");
             f.AddPoFx("\\_SB.PC00.RP05", "pci");
             f.AddPep("\\_SB.PC00.RP05", {0}, {0});
             f.AddPep("\\_SB.PC00.SAT0", {3}, {0});
             f.AddPoFx("\\_SB.PEPD", "");
             f.AddPep("\\_SB.PEPD", {0}, {0});
             f.AddPoFx("\\_SB.PC01.RP06", "pci");  // not constrained: nothing to report
         },
         {"4:power:1", "5:storage:1", "7:Integrated PCI Root Port:1"}},
        {"invalidator without an OS device does not fire",
         [](test::AnalysisFixture& f) {
             f.AddRule("graphics", ".*\\.GFX0", "", "always");
             f.AddRule("graphics", ".*\\.PEG1\\.PEGP", "", "classInvalidator");
             f.AddPoFx("\\_SB.PC00.GFX0", "hvgfxkm");
             f.AddPep("\\_SB.PC00.GFX0", {3}, {1});
             f.AddPoFx("\\_SB.PC00.PEG1.PEGP", "hvdgfx");
         },
         {"2:graphics:1"}},
        {"yellow bangs merge into one entry",
         [](test::AnalysisFixture& f) {
             f.AddPo("WUDFRd", "USB\\VID_2F4A&PID_0C11\\1");
             f.AddPo("usbvideo", "USB\\VID_3E21&PID_1A02\\2");
             f.AddPo("BTHUSB", "USB\\VID_7C01&PID_0301\\3");
             f.AddDevice("USB\\VID_2F4A&PID_0C11\\1", "Fingerprint", "", 28);
             f.AddDevice("USB\\VID_3E21&PID_1A02\\2", "Webcam");
             f.AddDevice("USB\\VID_7C01&PID_0301\\3", "Bluetooth", "", 10);
         },
         {"6:null:2"}},
    };
    for (const Case& c : cases) {
        test::AnalysisFixture fixture;
        c.build(fixture);
        fixture.Check();
        EXPECT_EQ(fixture.Errors(), c.errors) << c.name;
    }
}

TEST(RunChecks, LogsEveryStepsCompletionInOrder)
{
    test::AnalysisFixture fixture;
    fixture.Check();
    std::string log = fixture.Log();
    EXPECT_EQ(log.substr(log.find("\nINFORMATION:: Class Invalidators")),
              "\nINFORMATION:: Class Invalidators Check completed.."
              "\nINFORMATION:: Unique device Check completed.."
              "\nINFORMATION:: Unexpected Device Check completed.."
              "\nINFORMATION:: Registrations Check completed.."
              "\nINFORMATION:: Required Device Check completed.."
              "\nINFORMATION:: Power state Check completed.."
              "\nINFORMATION:: Unknown Device Check completed.."
              "\nINFORMATION:: Missing dependency Check completed.."
              "\nINFORMATION:: Running Yellow Bang Checks."
              "\nINFORMATION:: Po List Empty, cannot find yellow bangs."
              "\nINFORMATION:: Yellow Bang Check completed..");
}

TEST(RunChecks, YellowBangsWithoutDeviceRecordsSayNoDeviceIsPresent)
{
    test::AnalysisFixture fixture;
    fixture.AddPo("WUDFRd", "USB\\1");
    fixture.AddPo("usbvideo", "USB\\2");
    fixture.Check();
    std::string log = fixture.Log();
    EXPECT_EQ(log.substr(log.find("\nINFORMATION:: Running Yellow Bang")),
              "\nINFORMATION:: Running Yellow Bang Checks."
              "\nERROR:: No device is present.\nERROR:: No device is present."
              "\nINFORMATION:: Device Information Logging Complete."
              "\nINFORMATION:: Yellow Bang Check completed..");
    EXPECT_TRUE(fixture.Errors().empty());
}

TEST(InvalidateClass, RewritesRulesAndMarksTheClass)
{
    test::AnalysisFixture fixture;
    Rule& gfx = fixture.AddRule("graphics", ".*\\.GFX0", "", "always");
    Rule& audio = fixture.AddRule("audio", ".*\\.HDAS", "", "always");
    Rule& odd = fixture.AddRule("Graphics-Odd", ".*", "", "dynamic");
    fixture.Match();
    InvalidateClass("graphics", fixture.analysis);
    InvalidateClass("Graphics-Odd", fixture.analysis);
    EXPECT_EQ(gfx.RuleType, "requiredNo");
    EXPECT_EQ(audio.RuleType, "always");
    EXPECT_EQ(odd.RuleType, "requiredNo");
    EXPECT_EQ(fixture.analysis.InvalidatedClasses,
              (std::set<std::string>{"Graphics-Odd", "graphics"}));
}

}  // namespace
}  // namespace dormex
