// Trace decoding with the replay's decoder service: captured rundowns on a
// replayed machine, and single events whose values the replay delivers under a
// description written here (arrays, structures, counts and lengths, which a
// snapshot's flat properties do not describe). Descriptions that would make
// the decoder loop, recurse or overrun are the trace fuzzer's.
#include <gtest/gtest.h>

#include "TestPlatform.h"
#include "common/Text.h"
#include "platform/TraceProviders.h"
#include "platform/replay/ReplayTrace.h"
#include "trace/PowerTraceSession.h"
#include "trace/RundownLists.h"
#include "trace/TraceDecoding.h"

namespace dormex {
namespace {

// The rundowns a replayed machine's trace gives, the trace read as a run
// reads it.
struct Captured {
    test::TestMachine machine;
    int32_t status = -1;

    explicit Captured(const std::string& events)
        : machine(R"({"format": "dormex-machine/1", "events": [)" + events + "]}")
    {
        machine.CaptureLog();
        Platform& services = machine.Services;
        EXPECT_EQ(RunPowerTrace(machine.Profile, machine.State.Log, services.traceController,
                                services.interruption, machine.Files),
                  0);
        status = ProcessPowerTrace(machine.Profile, machine.State.Rundowns, machine.State.Log,
                                   services.traceConsumer, services.tdh, services.interruption,
                                   machine.Files);
    }
    const RundownLists& Lists() const { return machine.State.Rundowns; }
};

// Kernel-Power (here once by its GUID) is captured before Kernel-Pep; an id
// counts only from its own provider, and only a manifest describes a rundown.
TEST(ProcessPowerTrace, CapturedRundownsBecomeRecordsInTraceOrder)
{
    Captured trace(R"(
      {"provider": "Microsoft-Windows-Kernel-Pep", "id": 2, "properties": [
         ["DeviceId", "0x1"], ["DeviceName", "\\_SB.PC00.HDAS"],
         ["PlatformStateDependencyCount", "1"], ["PowerState", "3"]]},
      {"provider": "Microsoft-Windows-Kernel-Power", "id": 320, "properties": [
         ["DeviceId", "\\_SB.PC00.HDAS"], ["InstancePath", "PCI\\VEN_8A01&DEV_0001\\3&1&0&F8"],
         ["ServiceName", "HDAudBus"], ["DeviceNode", "42"]]},
      {"provider": "{331C3B3A-2005-44C2-AC5E-77220C37D6B4}", "id": 136, "properties": [
         ["DeviceNode", "0xFFFF9A0C1E3B2D50"], ["InstancePath", "USB\\ROOT_HUB30\\4&1"],
         ["FriendlyName", "Caf\u00e9 \u96c6\u7ebf\u5668"]]},
      {"provider": "Microsoft-Windows-Kernel-Pep", "id": 3, "decodingSource": 1, "properties": [
         ["DeviceId", "0x1"]]},
      {"provider": "Microsoft-Windows-Kernel-Power", "id": 2, "properties": [
         ["DeviceName", "\\_SB.PC00.XHCI"], ["PowerState", "3"]]},
      {"provider": "Microsoft-Windows-Kernel-Pep", "id": 320, "properties": [
         ["DeviceId", "\\_SB.PC00.XHCI"], ["ServiceName", "USBXHCI"]]},
      {"provider": "Microsoft-Windows-Kernel-Pep", "id": 3, "properties": [
         ["DeviceId", "0x1"], ["ComponentDescription", "\\_SB.PC00.HDAS"],
         ["PlatformStateDependencyCount", "1"], ["PowerState", "0"]]})");
    EXPECT_EQ(trace.status, 0);
    const RundownLists& lists = trace.Lists();
    ASSERT_EQ(lists.PoFxRundownList.size(), 1u);
    EXPECT_EQ(lists.PoFxRundownList[0].DeviceNode, 42);
    EXPECT_EQ(lists.PoFxRundownList[0].InstancePath, "PCI\\VEN_8A01&DEV_0001\\3&1&0&F8");
    ASSERT_EQ(lists.PoDeviceList.size(), 1u);
    EXPECT_EQ(lists.PoDeviceList[0].FriendlyName,
              "Caf\xC3\xA9 \xE9\x9B\x86\xE7\xBA\xBF\xE5\x99\xA8");
    ASSERT_EQ(lists.PepDeviceRundownList.size(), 1u);
    EXPECT_EQ(lists.PepDeviceRundownList[0].DeviceName, "\\_SB.PC00.HDAS");
    ASSERT_EQ(lists.PepComponentRundownList.size(), 1u);
    EXPECT_EQ(lists.PepComponentRundownList[0].ComponentDescription, "\\_SB.PC00.HDAS");
}

EventPropertyInfo Text(std::u16string name, uint32_t flags = 0, uint16_t count = 1,
                       uint16_t length = 0)
{
    EventPropertyInfo property;
    property.Name = std::move(name);
    property.InType = TdhInTypeUnicodeString;
    property.Flags = flags;
    property.Count = count;
    property.Length = length;
    return property;
}

EventPropertyInfo Struct(std::u16string name, uint16_t first, uint16_t members, uint32_t flags = 0,
                         uint16_t count = 1)
{
    EventPropertyInfo property = Text(std::move(name), PropertyStruct | flags, count);
    property.InType = 0;
    property.StructStartIndex = first;
    property.NumOfStructMembers = members;
    return property;
}

// One event's properties under `properties` (the first `topLevel` at the top)
// as the replayed decoder delivers `values`: each zero-terminated text after
// the other, a count or length read by its name from the first two units.
struct Decoded {
    std::string lines;
    std::string log;
    bool ok;
};

Decoded Decode(std::vector<EventPropertyInfo> properties, uint32_t topLevel,
               std::vector<std::pair<std::string, std::string>> values)
{
    test::LogCapture capture;
    ReplayTdh tdh;
    RundownLists lists;
    ScratchFile file((capture.Dir.Path() / "scratch.txt").string(), capture.Files);
    DecodeContext decoder{lists, capture.Log, tdh, file};
    SnapshotEvent source;
    for (const auto& [name, value] : values) {
        source.Properties.Add(name, value);
    }
    ReplayEvent event{&source, {}};
    for (const auto& [name, value] : source.Properties) {
        const std::vector<uint8_t> bytes = EncodeUtf16Le(Utf8ToUtf16(value) + u'\0');
        event.UserData.insert(event.UserData.end(), bytes.begin(), bytes.end());
    }
    EventRecord record;
    record.UserData = event.UserData.data();
    record.UserDataLength = static_cast<uint16_t>(event.UserData.size());
    record.Native = &event;
    TraceEventInfo info;
    info.TopLevelPropertyCount = topLevel;
    info.EventPropertyInfoArray = std::move(properties);
    EXPECT_TRUE(file.Open());
    const bool ok = WriteEventProperties(record, info, decoder);
    file.Close();
    return {test::ReadFile(capture.Dir.Path() / "scratch.txt"), capture.Text(), ok};
}

TEST(WriteEventProperties, ArraysStructuresCountsAndLengths)
{
    struct Case {
        const char* name;
        Decoded decoded;
        std::string lines;
    };
    std::vector<std::pair<std::string, std::string>> deep = {{"Count", "\u0FA0"}};
    deep.resize(4001, {"Name", ""});
    const Case cases[] = {
        {"array of three",
         Decode({Text(u"PowerState", 0, 3)}, 1,
                {{"PowerState", "3"}, {"PowerState", "0"}, {"PowerState", "2"}}),
         "PowerState: 3\nPowerState: 0\nPowerState: 2\n"},
        {"structure",
         Decode({Struct(u"Dependency", 1, 2), Text(u"DeviceId"), Text(u"PowerState")}, 1,
                {{"DeviceId", "0x1"}, {"PowerState", "3"}}),
         "DeviceId: 0x1\nPowerState: 3\n"},
        // A count property's index stands in Count, a length property's in Length.
        {"count of two",
         Decode({Text(u"Count"), Text(u"PowerState", PropertyParamCount, 0)}, 2,
                {{"Count", "\x02"}, {"PowerState", "1"}, {"PowerState", "3"}}),
         "Count: %02\nPowerState: 1\nPowerState: 3\n"},
        {"length property",
         Decode({Text(u"Size"), Text(u"Value", PropertyParamLength, 1, 0)}, 2,
                {{"Size", "\x03"}, {"Value", "abcdef"}}),
         "Size: %03\nValue: abc\n"},
        // Real data stays within the event's steps, even empty texts three
        // structures deep, 4000 times.
        {"deeply nested",
         Decode({Text(u"Count"), Struct(u"Outer", 2, 1, PropertyParamCount, 0),
                 Struct(u"Middle", 3, 1), Struct(u"Inner", 4, 1), Text(u"Name")},
                2, deep),
         "Count: \xE0\xBE\xA0\n" +
             [] {
                 std::string names;
                 for (int i = 0; i < 4000; ++i)
                     names += "Name: \n";
                 return names;
             }()},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(c.decoded.ok) << c.name << c.decoded.log;
        EXPECT_EQ(c.decoded.lines, c.lines) << c.name;
        EXPECT_EQ(c.decoded.log, "") << c.name;
    }
}

TEST(ScratchFile, ReplacesAPlantedLinkInsteadOfWritingThroughIt)
{
    test::LogCapture capture;
    const std::filesystem::path victim = capture.Dir.Path() / "victim.txt";
    const std::filesystem::path scratch = capture.Dir.Path() / "VQT_Device_file.txt";
    test::WriteFile(victim, "precious");
    std::error_code error;
    std::filesystem::create_symlink(victim, scratch, error);
    if (error) {
        GTEST_SKIP() << "no symbolic links here: " << error.message();
    }
    ScratchFile file(scratch.string(), capture.Files);
    ASSERT_TRUE(file.Open());
    *file.Stream() << "DeviceId: 1\n";
    file.Release();
    EXPECT_FALSE(std::filesystem::is_symlink(scratch));
    EXPECT_EQ(test::ReadFile(victim), "precious");
}

}  // namespace
}  // namespace dormex
