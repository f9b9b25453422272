#include <gtest/gtest.h>

#include "TestPlatform.h"
#include "devices/DeviceProperties.h"
#include "trace/RundownLists.h"

namespace dormex {
namespace {

const std::string Snapshot = R"({"format": "dormex-machine/1", "devices": {
  "PCI\\VEN_8A01&DEV_0001\\3&1&0&F8": {
    "Children": [], "Class": "MEDIA", "DeviceDesc": "High Definition Audio Controller",
    "HardwareIds": ["PCI\\VEN_8A01&DEV_0001&SUBSYS_1", "PCI\\VEN_8A01&DEV_0001", "PCI\\VEN_8A01"],
    "FriendlyName": "", "ProblemCode": 28, "LegacyBusType": -1, "Parent": "ACPI\\PNP0A08\\0",
    "PowerData": {"hex": "2000000001000000"}, "Siblings": ["A"]
  },
  "ACPI\\PNP0A08\\0": {"DeviceDesc": "PCI Express Root Complex"}
}})";

struct Collection {
    test::TestMachine machine;
    DevicePropertiesByInstancePath devices;

    explicit Collection(std::vector<std::string> paths, const std::string& snapshot = Snapshot)
        : machine(snapshot)
    {
        std::deque<PoDeviceEntry> poDevices;
        for (std::string& path : paths) {
            poDevices.push_back({"0x1", path, "svc"});
        }
        CollectDeviceProperties(poDevices, devices, machine.State.Log,
                                machine.Services.deviceManager);
    }
};

// The scenarios show the properties logged; here what each becomes. A device
// the manager does not know gets an empty record; a path's first record stays.
TEST(CollectDeviceProperties, ConvertsEveryReadableProperty)
{
    const std::string audioPath = "PCI\\VEN_8A01&DEV_0001\\3&1&0&F8";
    Collection collection({audioPath, "USB\\VID_1&PID_2\\X", "ACPI\\PNP0A08\\0", "acpi\\pnp0a08\\0",
                           "ACPI\\PNP0A08\\0"});
    EXPECT_EQ(collection.devices.size(), 4u);
    const DeviceProperties& audio = collection.devices.at(audioPath);
    EXPECT_EQ(audio.Class, "MEDIA");
    EXPECT_EQ(audio.HardwareIds,
              "PCI\\VEN_8A01&DEV_0001&SUBSYS_1,PCI\\VEN_8A01&DEV_0001,PCI\\VEN_8A01");
    EXPECT_EQ(audio.Children, "");
    EXPECT_EQ(audio.Siblings, "A");
    EXPECT_EQ(audio.FriendlyName, "");
    EXPECT_EQ(audio.ProblemCode, 28);
    EXPECT_EQ(audio.LegacyBusType, -1);
    EXPECT_EQ(audio.PowerData, "2000000001000000");
    EXPECT_EQ(collection.devices.at("USB\\VID_1&PID_2\\X").DeviceDesc, "");
    EXPECT_EQ(collection.devices.at("acpi\\pnp0a08\\0").DeviceDesc, "PCI Express Root Complex");
}

TEST(CollectDeviceProperties, ValuesPastTheFirstBufferAreReadWholeUpToTheBound)
{
    const std::string large(20 * 1024, 'x');
    const std::string huge(DevicePropertyMaxSize / 2, 'y');  // with its terminator, too large
    Collection collection({"ROOT\\BIG\\0"}, R"({"format": "dormex-machine/1", "devices": {
        "ROOT\\BIG\\0": {"DeviceDesc": ")" + large +
                                                R"(", "FriendlyName": ")" + huge + R"("}}})");
    const DeviceProperties& device = collection.devices.at("ROOT\\BIG\\0");
    EXPECT_EQ(device.DeviceDesc, large);
    EXPECT_EQ(device.FriendlyName, "");
}

TEST(StoreDeviceProperty, ConversionsAtTheirEdges)
{
    struct Case {
        size_t row;
        std::vector<uint8_t> bytes;
        std::string logged;
    };
    const Case cases[] = {
        {12, {}, "Friendly Name : "},
        {12, {'a', 0x01, 'b', 0}, "Friendly Name : \xC5\xA1"},
        {12, {'P', 0, 0xE9, 0, 'r', 0, 0, 0}, "Friendly Name : P\xC3\xA9r"},
        {12, {0xF3, 0x97, 0x91, 0x98, 0, 0}, "Friendly Name : \xE9\x9F\xB3\xE9\xA2\x91"},
        {12, {'a', 0, 0, 0, 'b', 0, 0, 0}, "Friendly Name : a"},
        {23, {0x20, 0, 0, 0, 1, 0xAB}, "Device Power Data : 2000000001ab"},
        {13, {'A', 0, 0, 0, 'B', 0, 0, 0, 'C', 0, 0, 0, 0, 0}, "Hardware ID : A,B,C"},
        {13,
         {'A', 0, 0xE9, 0, 0, 0, 0x8B, 0x5B, 0, 0, 0, 0},
         "Hardware ID : A\xC3\xA9,\xE5\xAE\x8B"},
        {24, {0xFF, 0xFF, 0xFF, 0xFF}, "Device Problem Code : -1"},
    };
    for (const Case& c : cases) {
        test::LogCapture capture;
        DeviceProperties record;
        StoreDeviceProperty(record, c.row, c.bytes.data(), static_cast<uint32_t>(c.bytes.size()),
                            capture.Log);
        EXPECT_EQ(capture.Text(), "\nINFORMATION:: Logged: " + c.logged);
    }
    test::LogCapture ignored;
    DeviceProperties record;
    uint8_t value[4] = {1, 0, 0, 0};
    StoreDeviceProperty(record, 29, value, 4, ignored.Log);
    EXPECT_EQ(ignored.Text(), "");
}

// The findings of a PEP device name its PnP device through this path.
TEST(AcpiLocationPath, PadsEachNameSegmentAndRefusesWhatIsNoPath)
{
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"\\_SB.PC00.RP07.ZLK0", "ACPI(_SB_)#ACPI(PC00)#ACPI(RP07)#ACPI(ZLK0)"},
        {"_SB_.I2C", "ACPI(_SB_)#ACPI(I2C_)"},
        {"", ""},
        {"\\", ""},
        {"\\_SB..XHCI", ""},
        {"\\_SB.XHCI.", ""},
        {"\\_SB.TOOLONG", ""},
        {"PCI\\VEN_8086", ""},
        {"0xFFFFA10C00000040", ""},
    };
    for (const auto& [name, path] : cases) {
        EXPECT_EQ(AcpiLocationPath(name), path) << name;
    }
    const std::vector<std::string_view> entries = {"A", "B"};
    EXPECT_EQ(ListEntries(",A,,B,"), entries);
}

}  // namespace
}  // namespace dormex
