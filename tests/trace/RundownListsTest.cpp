#include <gtest/gtest.h>

#include <sstream>

#include "TestPlatform.h"
#include "trace/RundownLists.h"

namespace dormex {
namespace {

TEST(AddPoFxEntry, ReadsTheFirstWordOfEveryKeysValue)
{
    struct Case {
        const char* file;
        int32_t deviceNode;
        const char* deviceId;
        const char* instancePath;
        const char* serviceName;
    };
    const Case cases[] = {
        {"DeviceId: \\_SB.PC00.HDAS\nInstancePath: PCI\\VEN_8A01&DEV_0001\\3&1&0&F8\n"
         "ServiceName: HDAudBus\nDeviceNode: 42\n",
         42, "\\_SB.PC00.HDAS", "PCI\\VEN_8A01&DEV_0001\\3&1&0&F8", "HDAudBus"},
        {"DeviceNode: 0xFFFF9A0C1E3B2D50\n", 0, "", "", ""},
        {"DeviceNode: -17x\n", -17, "", "", ""},
        // An empty value takes the next word, here the next line's key.
        {"ServiceName: \nDeviceNode: 5\n", 0, "", "", "DeviceNode:"},
        // A value word that is a key is a value; the key after it is read again.
        {"DeviceId: InstancePath:\nInstancePath: X\n", 0, "InstancePath:", "X", ""},
        {"DeviceId: a\r\nDeviceId: b\r\n", 0, "b", "", ""},
        {"deviceid: lower\nDeviceId:glued\n", 0, "", "", ""},
        {"", 0, "", "", ""},
        {"ServiceName:", 0, "", "", ""},
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

TEST(AddOperations, FillTheirOwnFieldsAndListsInOrder)
{
    test::LogCapture capture;
    RundownLists lists;
    std::stringstream component(
        "DeviceId: 0x1\nComponentDescription: \\_SB.PC00.HDAS\nDeviceName: ignored\n"
        "PlatformStateDependencyCount: 1\nPowerState: 0\n");
    EXPECT_EQ(AddPepComponentEntry(&component, lists, capture.Log), 0);
    std::stringstream po(
        "DeviceNode: 0xFFFF9A0C1E3B2D50\nInstancePath: PCI\\VEN_8A01&DEV_0001\n"
        "FriendlyName: High Definition Audio Controller\n");
    EXPECT_EQ(AddPoEntry(&po, lists, capture.Log), 0);
    std::stringstream second("FriendlyName: kvStor\n");
    EXPECT_EQ(AddPoEntry(&second, lists, capture.Log), 0);

    ASSERT_EQ(lists.PepComponentRundownList.size(), 1u);
    EXPECT_EQ(lists.PepComponentRundownList[0].ComponentDescription, "\\_SB.PC00.HDAS");
    EXPECT_EQ(lists.PepComponentRundownList[0].PlatformStateDependencyCount, 1u);
    ASSERT_EQ(lists.PoDeviceList.size(), 2u);
    EXPECT_EQ(lists.PoDeviceList[0].DeviceNode, "0xFFFF9A0C1E3B2D50");
    EXPECT_EQ(lists.PoDeviceList[0].FriendlyName, "High");
    EXPECT_EQ(lists.PoDeviceList[1].FriendlyName, "kvStor");
    EXPECT_TRUE(lists.PepDeviceRundownList.empty());
}

TEST(AddOperations, LongWordsAreReadInPiecesOf1023)
{
    test::LogCapture capture;
    RundownLists lists;
    std::string longId(1030, 'A');
    std::stringstream file("DeviceId: " + longId + "\nServiceName: svc\n");
    AddPoFxEntry(&file, lists, capture.Log);
    EXPECT_EQ(lists.PoFxRundownList[0].DeviceId, std::string(1023, 'A'));
    EXPECT_EQ(lists.PoFxRundownList[0].ServiceName, "svc");
}

}  // namespace
}  // namespace dormex
