#include <gtest/gtest.h>

#include <sstream>

#include "TestPlatform.h"
#include "trace/RundownLists.h"

namespace dormex {
namespace {

using namespace std::string_literals;

TEST(AddPoFxEntry, EachKeyGetsTheWholeRestOfItsLine)
{
    struct Case {
        std::string file;
        int32_t deviceNode;
        std::string deviceId;
        std::string instancePath;
        std::string serviceName;
    };
    const Case cases[] = {
        {"DeviceId: \\_SB.PC00.HDAS\nInstancePath: PCI\\VEN_8A01&DEV_0001\\3&1&0&F8\n"
         "ServiceName: HDAudBus\nDeviceNode: 42\n",
         42, "\\_SB.PC00.HDAS", "PCI\\VEN_8A01&DEV_0001\\3&1&0&F8", "HDAudBus"},
        {"DeviceNode: -17x\nDeviceId: " + std::string(1030, 'A'), -17, std::string(1030, 'A'), "",
         ""},
        {"ServiceName: Quillon Audio  Bus \n", 0, "", "", "Quillon Audio  Bus "},
        {"DeviceId: InstancePath: X\n", 0, "InstancePath: X", "", ""},
        {"DeviceId: 100%25 %0D%0Anext%00%1Aend\n", 0,
         "100% \r\nnext\0\x1A"
         "end"s,
         "", ""},
        {"Device%49d: x\nDevice%3AId: y\n", 0, "x", "", ""},
        {"DeviceId: a\r\nDeviceId: b\r\n", 0, "b", "", ""},
        {"deviceid: lower\nDeviceId:glued\n", 0, "", "", ""},
    };
    for (const Case& c : cases) {
        test::LogCapture capture;
        RundownLists lists;
        std::stringstream file(c.file);
        EXPECT_EQ(AddPoFxEntry(&file, lists, capture.Log), 0);
        ASSERT_EQ(lists.PoFxRundownList.size(), 1u) << c.file;
        const PoFxDeviceRundown& record = lists.PoFxRundownList.front();
        EXPECT_EQ(record.DeviceNode, c.deviceNode) << c.file;
        EXPECT_EQ(record.DeviceId, c.deviceId) << c.file;
        EXPECT_EQ(record.InstancePath, c.instancePath) << c.file;
        EXPECT_EQ(record.ServiceName, c.serviceName) << c.file;
        EXPECT_EQ(capture.Text(), "");
    }
}

TEST(AddPepDeviceEntry, CountMarksOneDependencyAndStatesFillSlots)
{
    struct Case {
        const char* file;
        uint32_t count;
        std::array<int32_t, 3> states;
    };
    const Case cases[] = {
        {"DeviceId: 0x1\nDeviceName: \\_SB.PC00.HDAS\nPlatformStateDependencyCount: 3\n"
         "PowerState: 3\n",
         1,
         {3, 0, 0}},
        {"PowerState: -1\nPowerState: 3\n", 0, {-1, 3, 0}},
        {"PlatformStateDependencyCount: 0\nPowerState: 1\nPowerState: 2\nPowerState: 3\n"
         "PowerState: 4\nPowerState: 5\n",
         1,
         {1, 2, 3}},
    };
    for (const Case& c : cases) {
        test::LogCapture capture;
        RundownLists lists;
        std::stringstream file(c.file);
        EXPECT_EQ(AddPepDeviceEntry(&file, lists, capture.Log), 0);
        ASSERT_EQ(lists.PepDeviceRundownList.size(), 1u);
        EXPECT_EQ(lists.PepDeviceRundownList[0].PlatformStateDependencyCount, c.count) << c.file;
        EXPECT_EQ(lists.PepDeviceRundownList[0].PowerStates, c.states) << c.file;
    }
}

TEST(WriteDeviceFileLine, EveryValueReadsBackWhole)
{
    const std::string values[] = {
        "",
        "\\_SB.PC00.HDAS",
        "Quillon HD Audio DeviceId: \\_SB.INJECTED ServiceName: Injected",
        "100% of %25 and %0A",
        "line\r\nend\0tail\x1A\tlast"s,
        ": ",
    };
    for (const std::string& value : values) {
        test::LogCapture capture;
        RundownLists lists;
        std::stringstream file;
        WriteDeviceFileLine(file, "FriendlyName", value);
        WriteDeviceFileLine(file, "InstancePath: x", "not the path");
        WriteDeviceFileLine(file, "DeviceNode", "7");
        EXPECT_EQ(AddPoEntry(&file, lists, capture.Log), 0);
        ASSERT_EQ(lists.PoDeviceList.size(), 1u);
        EXPECT_EQ(lists.PoDeviceList[0].FriendlyName, value);
        EXPECT_EQ(lists.PoDeviceList[0].InstancePath, "");
        EXPECT_EQ(lists.PoDeviceList[0].DeviceNode, "7");
    }
    std::stringstream ordinary;
    WriteDeviceFileLine(ordinary, "InstancePath", "PCI\\VEN_8A01&DEV_0001 x");
    EXPECT_EQ(ordinary.str(), "InstancePath: PCI\\VEN_8A01&DEV_0001 x\n");
}

}  // namespace
}  // namespace dormex
