#include <gtest/gtest.h>

#include "AnalysisFixture.h"

namespace dormex {
namespace {

using Keys = std::vector<std::string>;

Keys MapKeys(const ConstraintAnalysis& analysis)
{
    Keys keys;
    for (const auto& [key, match] : analysis.DeviceMap)
        keys.push_back(key);
    return keys;
}

TEST(DeviceCorrelation, PepNamesJoinExactThenTheSmallestContainingKey)
{
    struct Case {
        Keys registrations;
        std::string pepName;
        Keys keys;           // the map afterwards
        std::string joined;  // the key whose entry holds the PEP device
    };
    const Case cases[] = {
        {{"\\_SB.PC00.HDAS"}, "\\_SB.PC00.HDAS*", {"\\_SB.PC00.HDAS"}, "\\_SB.PC00.HDAS"},
        {{"\\_SB.PC00.RP01.PXSX", "\\_SB.PC00.RP01"},
         "PC00.RP01",
         {"\\_SB.PC00.RP01", "\\_SB.PC00.RP01.PXSX"},
         "\\_SB.PC00.RP01"},
        {{"\\_SB.PC00.XHCI"},
         "\\_SB.PC00.I2C0*",
         {"\\_SB.PC00.I2C0*", "\\_SB.PC00.XHCI"},
         "\\_SB.PC00.I2C0*"},
        {{"\\_SB.B", "\\_SB.A"}, "", {"\\_SB.A", "\\_SB.B"}, "\\_SB.A"},
        {{"\\_SB.Z.HDAS", "\\_SB.A.HDAS", "\\_SB.HDA"},
         "HDAS",
         {"\\_SB.A.HDAS", "\\_SB.HDA", "\\_SB.Z.HDAS"},
         "\\_SB.A.HDAS"},
        {{"\\_SB.XB", "\\_SB.AB"}, "B", {"\\_SB.AB", "\\_SB.XB"}, "\\_SB.AB"},
        {{}, "", {""}, ""},
    };
    for (const Case& c : cases) {
        test::AnalysisFixture fixture;
        for (const std::string& id : c.registrations)
            fixture.AddPoFx(id, "svc");
        fixture.AddPep(c.pepName, {3}, {0});
        fixture.Fill();
        EXPECT_EQ(MapKeys(fixture.analysis), c.keys) << c.pepName;
        const DeviceMatch& joined = *fixture.analysis.DeviceMap.at(c.joined);
        EXPECT_EQ(joined.PepDevice, &fixture.rundowns.PepDeviceRundownList[0]) << c.pepName;
        EXPECT_EQ(joined.PepComponent, &fixture.rundowns.PepComponentRundownList[0]) << c.pepName;
    }
}

}  // namespace
}  // namespace dormex
