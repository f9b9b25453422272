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

TEST(DeviceCorrelation, RegistrationsWithOneIdShareAnEntryAndTheLaterStays)
{
    test::AnalysisFixture fixture;
    fixture.AddPoFx("\\_SB.PC00.HDAS", "first");
    fixture.AddPoFx("\\_SB.PC00.HDAS", "second");
    fixture.Fill();
    ASSERT_EQ(MapKeys(fixture.analysis), Keys{"\\_SB.PC00.HDAS"});
    EXPECT_EQ(fixture.analysis.DeviceMap.begin()->second->PoFxDevice->ServiceName, "second");
    EXPECT_EQ(fixture.Log(),
              "\nINFORMATION:: NEW MAP ENTRY:: added PoFx entry with ID: \\_SB.PC00.HDAS"
              "\nINFORMATION:: EXISTING MAP ENTRY:: added PoFx entry with ID: \\_SB.PC00.HDAS"
              "\nINFORMATION:: EXISTING MAP ENTRY:: added PoFx entry with ID: \\_SB.PC00.HDAS");
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
        {{"\\_SB.PC00.HDAS"}, "\\_SB.PC00.HDAS", {"\\_SB.PC00.HDAS"}, "\\_SB.PC00.HDAS"},
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

TEST(DeviceCorrelation, StarredNameWithoutAMatchGetsItsOwnEntryThatLaterNamesJoin)
{
    test::AnalysisFixture fixture;
    fixture.AddPep("\\_SB.PC00.THC0*", {3});
    fixture.AddPep("\\_SB.PC00.THC0*", {0});
    fixture.Fill();
    ASSERT_EQ(MapKeys(fixture.analysis), Keys{"\\_SB.PC00.THC0*"});
    EXPECT_EQ(fixture.analysis.DeviceMap.begin()->second->PepDevice,
              &fixture.rundowns.PepDeviceRundownList[1]);
    EXPECT_EQ(fixture.Log(),
              "\nINFORMATION:: Key not found for \\_SB.PC00.THC0"
              "\nINFORMATION:: NEW MAP ENTRY:: added PEPD entry with ID: \\_SB.PC00.THC0*"
              "\nINFORMATION:: EXISTING MAP ENTRY:: added PEPD entry with ID: \\_SB.PC00.THC0*"
              "\nINFORMATION:: Key not found for \\_SB.PC00.THC0"
              "\nINFORMATION:: EXISTING MAP ENTRY:: added PEPD entry with ID: \\_SB.PC00.THC0*");
}

TEST(DeviceCorrelation, EmptyListsLeaveAnEmptyMapAndPartialDevicesKeepNulls)
{
    test::AnalysisFixture empty;
    empty.Fill();
    EXPECT_TRUE(empty.analysis.DeviceMap.empty());
    EXPECT_EQ(empty.Log(), "");

    test::AnalysisFixture partial;
    partial.AddPep("\\_SB.PC00.I2C0", {3});
    partial.rundowns.PepComponentRundownList.push_back({"0x2", "\\_SB.PC00.SPI0", 1, {0}});
    partial.Fill();
    const DeviceMatch& pepOnly = *partial.analysis.DeviceMap.at("\\_SB.PC00.I2C0");
    EXPECT_EQ(pepOnly.PoFxDevice, nullptr);
    EXPECT_NE(pepOnly.PepDevice, nullptr);
    const DeviceMatch& componentOnly = *partial.analysis.DeviceMap.at("\\_SB.PC00.SPI0");
    EXPECT_EQ(componentOnly.PepDevice, nullptr);
    EXPECT_NE(componentOnly.PepComponent, nullptr);
}

}  // namespace
}  // namespace dormex
