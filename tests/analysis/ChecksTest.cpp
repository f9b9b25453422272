#include <gtest/gtest.h>

#include "AnalysisFixture.h"

namespace dormex {
namespace {

using Errors = std::vector<std::string>;

// The kinds the sample machine shows (a registered device without a constraint
// under "always", a constraint without a registration, a PCI constraint under
// "requiredNo", a class invalidator that fires, yellow bangs) are in its
// end-to-end scenario.
TEST(RunChecks, RecordsEachKindOfDisagreement)
{
    struct Case {
        const char* name;
        void (*build)(test::AnalysisFixture&);
        Errors errors;  // "type:rule class:devices", newest first
    };
    const Case cases[] = {
        {"registered but not constrained under dynamic",
         [](test::AnalysisFixture& f) {
             f.AddRule("imaging", ".*\\.IPU0", "", "dynamic");
             f.AddPoFx("\\_SB.PC00.IPU0", "hvcamera");
         },
         {"3:imaging:1"}},
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
        {"constrained under requiredNo: storage and the rest",
         [](test::AnalysisFixture& f) {
             f.AddRule("storage", ".*\\.SAT0", "", "requiredNo");
             f.AddRule("power", ".*\\.PEPD", "", "requiredNo");
             f.AddPep("\\_SB.PC00.SAT0", {3}, {0});
             f.AddPoFx("\\_SB.PEPD", "");
             f.AddPep("\\_SB.PEPD", {0}, {0});
         },
         {"4:power:1", "5:storage:1"}},
        {"invalidator without an OS device does not fire",
         [](test::AnalysisFixture& f) {
             f.AddRule("graphics", ".*\\.GFX0", "", "always");
             f.AddRule("graphics", ".*\\.PEG1\\.PEGP", "", "classInvalidator");
             f.AddPoFx("\\_SB.PC00.GFX0", "hvgfxkm");
             f.AddPep("\\_SB.PC00.GFX0", {3}, {1});
             f.AddPoFx("\\_SB.PC00.PEG1.PEGP", "hvdgfx");
         },
         {"2:graphics:1"}},
    };
    for (const Case& c : cases) {
        test::AnalysisFixture fixture;
        c.build(fixture);
        fixture.Check();
        EXPECT_EQ(fixture.Errors(), c.errors) << c.name;
    }
}

}  // namespace
}  // namespace dormex
