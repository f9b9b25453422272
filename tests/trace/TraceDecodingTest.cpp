#include <gtest/gtest.h>

#include <variant>

#include "TestPlatform.h"
#include "common/Text.h"
#include "trace/FakeTdh.h"
#include "trace/RundownLists.h"
#include "trace/TraceDecoding.h"

namespace dormex {
namespace {

using test::FakeEvent;
using test::FakeTdh;
using test::InTypeUInt32;
using test::RecordOf;

EventPropertyInfo Property(std::u16string name, uint16_t inType, uint16_t count = 1,
                           uint16_t length = 0, uint32_t flags = 0)
{
    EventPropertyInfo property;
    property.Name = std::move(name);
    property.InType = inType;
    property.Count = count;
    property.Length = length;
    property.Flags = flags;
    return property;
}

EventPropertyInfo Text(std::u16string name)
{
    return Property(std::move(name), TdhInTypeUnicodeString);
}

EventPropertyInfo Number(std::u16string name, uint16_t count = 1, uint32_t flags = 0)
{
    return Property(std::move(name), InTypeUInt32, count, 4, flags);
}

EventPropertyInfo Struct(std::u16string name, uint16_t first, uint16_t members, uint32_t flags = 0,
                         uint16_t count = 1)
{
    EventPropertyInfo property = Property(std::move(name), 0, count, 0, PropertyStruct | flags);
    property.StructStartIndex = first;
    property.NumOfStructMembers = members;
    return property;
}

// An event with its properties, the first topLevel of them at the top, and
// its data: 32-bit numbers and terminated UTF-16 texts.
FakeEvent Make(std::vector<EventPropertyInfo> properties, uint32_t topLevel,
               std::vector<std::variant<uint32_t, std::u16string>> data)
{
    FakeEvent event;
    event.properties = std::move(properties);
    event.topLevel = topLevel;
    for (const auto& datum : data) {
        if (const uint32_t* number = std::get_if<uint32_t>(&datum)) {
            for (int i = 0; i < 4; ++i) {
                event.data.push_back(static_cast<uint8_t>(*number >> (8 * i)));
            }
        } else {
            for (char16_t unit : std::get<std::u16string>(datum) + u'\0') {
                event.data.push_back(static_cast<uint8_t>(unit));
                event.data.push_back(static_cast<uint8_t>(unit >> 8));
            }
        }
    }
    return event;
}

// Delivers the header event and the given events, as ProcessTrace does.
class FakeConsumer final : public EventTraceConsumer {
public:
    std::vector<FakeEvent>* events = nullptr;
    bool openFails = false;
    uint32_t lastError = 0;
    uint32_t processStatus = 0;
    bool closed = false;
    std::u16string openedName;

    TraceHandle OpenTraceW(EventTraceLogfile& logfile) override
    {
        openedName = logfile.LogFileName;
        callback = logfile.EventRecordCallback;
        EXPECT_EQ(logfile.ProcessTraceMode, ProcessTraceModeEventRecord);
        logfile.BuffersLost = 2;
        return openFails ? InvalidProcessTraceHandle : 9;
    }
    uint32_t GetLastError() override { return lastError; }
    uint32_t ProcessTrace(TraceHandle) override
    {
        EventRecord header;
        header.ProviderId = EventTraceGuid;
        callback(header);
        for (FakeEvent& fake : *events) {
            callback(RecordOf(fake));
        }
        return processStatus;
    }
    uint32_t CloseTrace(TraceHandle) override
    {
        closed = true;
        return 0;
    }

private:
    std::function<void(const EventRecord&)> callback;
};

// A PoFx registration with id, path and service as strings.
FakeEvent Registration(std::u16string id, std::u16string service)
{
    return Make({Text(u"DeviceId"), Text(u"ServiceName")}, 2, {id, service});
}

struct Replay {
    test::LogCapture capture;
    FakeTdh tdh;
    FakeConsumer consumer;
    RundownLists lists;
    std::vector<FakeEvent> events;
    int32_t status = -1;
    NoInterruption uninterrupted;

    std::string Directory() const { return capture.Dir.Path().string(); }
    void Run()
    {
        consumer.events = &events;
        status = ProcessPowerTrace(Directory(), lists, capture.Log, consumer, tdh, uninterrupted,
                                   capture.Files);
    }
};

// Decodes the properties of one event into a scratch file of its own.
struct Decoded {
    std::string lines;
    std::string log;
    bool ok;
};

Decoded Decode(FakeEvent event)
{
    test::LogCapture capture;
    FakeTdh tdh;
    RundownLists lists;
    ScratchFile file((capture.Dir.Path() / "scratch.txt").string(), capture.Files);
    DecodeContext decoder{lists, capture.Log, tdh, file};
    EventRecord record = RecordOf(event);
    TraceEventInfo info;
    tdh.GetEventInformation(record, &info, nullptr);
    EXPECT_TRUE(file.Open());
    bool ok = WriteEventProperties(record, info, decoder);
    file.Close();
    return {test::ReadFile(capture.Dir.Path() / "scratch.txt"), capture.Text(), ok};
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

TEST(WriteEventProperties, ArraysStructuresCountsLengthsAndMaps)
{
    struct Case {
        const char* name;
        FakeEvent event;
        std::string lines;
    };
    std::vector<Case> cases = {
        {"array of three", Make({Number(u"PowerState", 3)}, 1, {3u, 0u, 2u}),
         "PowerState: 3\nPowerState: 0\nPowerState: 2\n"},
        {"structure",
         Make({Struct(u"Dependency", 1, 2), Text(u"DeviceId"), Number(u"PowerState")}, 1,
              {u"0x1", 3u}),
         "DeviceId: 0x1\nPowerState: 3\n"},
        // The count property's index stands in Count.
        {"zero count",
         Make({Number(u"Count"), Number(u"PowerState", 0, PropertyParamCount), Number(u"After")}, 3,
              {0u, 7u}),
         "Count: 0\nAfter: 7\n"},
        {"count of two",
         Make({Number(u"Count"), Number(u"PowerState", 0, PropertyParamCount)}, 2, {2u, 1u, 3u}),
         "Count: 2\nPowerState: 1\nPowerState: 3\n"},
        {"length property",
         Make({Number(u"Size"), Property(u"Value", InTypeUInt32, 1, 0, PropertyParamLength)}, 2,
              {4u, 9u}),
         "Size: 4\nValue: 9\n"},
    };
    // A counted value keeps its characters up to a zero unit; the next value
    // starts after all of them.
    FakeEvent counted =
        Make({Property(u"Name", TdhInTypeUnicodeString, 1, 3), Text(u"After")}, 2, {u"c"});
    const std::vector<uint8_t> abc = {'a', 0, 0, 0, 'b', 0};
    counted.data.insert(counted.data.begin(), abc.begin(), abc.end());
    cases.push_back({"zero unit in a counted value", counted, "Name: a\nAfter: c\n"});
    cases.push_back(
        {"line ends and percent signs",
         Make({Text(u"Friendly\nName"), Text(u"Path")}, 2, {u"100% \r\nof it", u"PCI\\VEN_1 A"}),
         "Friendly%0AName: 100%25 %0D%0Aof it\nPath: PCI\\VEN_1 A\n"});
    cases[2].event.numbers[u"Count"] = 0x10000;  // only the low 16 bits count: 0
    cases[3].event.numbers[u"Count"] = 2;
    cases[4].event.numbers[u"Size"] = 4;
    FakeEvent mapped = Make({Number(u"State")}, 1, {1u});
    mapped.properties[0].MapName = u"StateMap";
    mapped.maps[u"StateMap"] = {u"Idle ", u"Active ", u""};
    cases.push_back({"manifest map", mapped, "State: Active\n"});
    mapped.decodingSource = 1;
    cases.push_back({"other map", mapped, "State: Active \n"});
    mapped.decodingSource = 0;
    mapped.data[0] = 2;
    cases.push_back({"empty map text", mapped, "State: \n"});
    for (const Case& c : cases) {
        Decoded decoded = Decode(c.event);
        EXPECT_TRUE(decoded.ok) << c.name << decoded.log;
        EXPECT_EQ(decoded.lines, c.lines) << c.name;
        EXPECT_EQ(decoded.log, "") << c.name;
    }
}

TEST(WriteEventProperties, FailuresLogTheirMessages)
{
    struct Case {
        const char* name;
        FakeEvent event;
        std::string log;
    };
    const std::string invalid = "\nERROR:: Data read from Events is Invalid. :: Error code: 15005";
    const std::string noLength = "\nERROR:: Cannot get property length of Event. :: Error code: ";
    const std::string memberFailed = "\nERROR:: Printing members of event structure failed.";
    std::string loopMessages = invalid;
    for (int i = 0; i <= 32; ++i) {
        loopMessages += memberFailed;
    }
    const EventPropertyInfo unsized = Property(u"Value", InTypeUInt32);
    std::vector<Case> cases = {
        {"no length", Make({unsized}, 1, {1u}), invalid + noLength + "15005"},
        {"length not readable",
         Make({Number(u"Size"), Property(u"Value", InTypeUInt32, 1, 0, PropertyParamLength)}, 2,
              {4u, 9u}),
         noLength + "1168"},
        {"structure member",
         Make({Number(u"Count"), Struct(u"Pair", 2, 1, PropertyParamCount, 0), unsized}, 2,
              {1u, 5u}),
         invalid + noLength + "15005" + memberFailed},
        // Data enough that the depth, not the event's steps, ends the loop.
        {"structure containing itself", Make({Struct(u"Self", 0, 1)}, 1, {std::u16string(8, u'x')}),
         loopMessages},
        {"more top-level properties than described", Make({Text(u"Only")}, 3, {u"x"}), invalid},
        {"formatting fails silently", Make({Text(u"Text")}, 1, {}), ""},
    };
    cases[2].event.numbers[u"Count"] = 1;
    cases[5].event.data = {'a', 0, 'b'};
    FakeEvent mapFails = Make({Number(u"State")}, 1, {1u});
    mapFails.mapStatus = 87;
    cases.push_back({"map fails", mapFails,
                     "\nERROR:: Cannot get event map information. :: Error code: 87"
                     "\nERROR:: Cannot access Map value for event. :: Error code: 87"});
    mapFails.mapStatus = 14;
    cases.push_back({"map memory", mapFails,
                     "\nERROR:: Cannot allocate memory for events. :: Error code: 14"
                     "\nERROR:: Cannot access Map value for event. :: Error code: 14"});
    for (const Case& c : cases) {
        Decoded decoded = Decode(c.event);
        EXPECT_FALSE(decoded.ok) << c.name;
        EXPECT_EQ(decoded.log, c.log) << c.name;
    }
}

TEST(WriteEventProperties, NestedCountsAreBoundedByTheEventsData)
{
    struct Case {
        const char* name;
        FakeEvent event;
        bool ok;
        std::string log;
    };
    const std::string spent =
        "\nERROR:: Data read from Events is Invalid. :: Error code: 15005"
        "\nERROR:: Cannot get property length of Event. :: Error code: 15005";
    const std::string memberFailed = "\nERROR:: Printing members of event structure failed.";
    std::vector<Case> cases = {
        {"structures of structures, 65535 each",
         Make({Struct(u"Outer", 1, 1, 0, 65535), Struct(u"Middle", 2, 1, 0, 65535),
               Struct(u"Inner", 3, 0, 0, 65535)},
              1, {u"x"}),
         false, spent + memberFailed + memberFailed},
    };
    // 65535 elements of 60000 members that have no element to decode.
    std::vector<EventPropertyInfo> wide = {Struct(u"Outer", 1, 60000, 0, 65535)};
    wide.resize(60001, Number(u"None", 0));
    cases.push_back(
        {"members without elements", Make(wide, 1, {u"x"}), false, spent + memberFailed});
    // Real data stays within its steps, even empty texts three structures deep.
    FakeEvent deep = Make({Number(u"Count"), Struct(u"Outer", 2, 1, PropertyParamCount, 0),
                           Struct(u"Middle", 3, 1), Struct(u"Inner", 4, 1), Text(u"Name")},
                          2, {4000u});
    deep.numbers[u"Count"] = 4000;
    deep.data.resize(deep.data.size() + 2 * 4000, 0);
    cases.push_back({"real data, deeply nested", deep, true, ""});
    for (const Case& c : cases) {
        Decoded decoded = Decode(c.event);
        EXPECT_EQ(decoded.ok, c.ok) << c.name;
        EXPECT_EQ(decoded.log, c.log) << c.name;
    }
}

TEST(ProcessPowerTrace, KeepsEventsOfInterestAndGoesOnPastAnUndecodableOne)
{
    Replay replay;
    FakeEvent broken = Registration(u"\\_SB.PC00.BRKN", u"x");
    broken.properties[1].InType = InTypeUInt32;  // no length: cannot be decoded
    FakeEvent mof = Registration(u"\\_SB.PC00.MOF0", u"mof");
    mof.decodingSource = 1;
    FakeEvent other = Registration(u"\\_SB.PC00.OTHR", u"other");
    other.id = 99;
    FakeEvent pep =
        Make({Text(u"DeviceName"), Text(u"PlatformStateDependencyCount"), Text(u"PowerState")}, 3,
             {u"\\_SB.PC00.HDAS", u"1", u"3"});
    pep.id = 2;
    pep.provider = KernelPepProvider;
    FakeEvent failingInfo = Registration(u"\\_SB.PC00.NOIN", u"x");
    failingInfo.infoStatus = 1168;
    replay.events = {
        Registration(u"\\_SB.PC00.HDAS", u"HDAudBus"), broken, mof, other, pep, failingInfo,
        Registration(u"\\_SB.PC00.XHCI", u"USBXHCI")};
    replay.Run();

    EXPECT_EQ(replay.status, 0);
    ASSERT_EQ(replay.lists.PoFxRundownList.size(), 2u);
    EXPECT_EQ(replay.lists.PoFxRundownList[0].DeviceId, "\\_SB.PC00.HDAS");
    EXPECT_EQ(replay.lists.PoFxRundownList[1].DeviceId, "\\_SB.PC00.XHCI");
    EXPECT_EQ(replay.lists.PoFxRundownList[1].ServiceName, "USBXHCI");
    ASSERT_EQ(replay.lists.PepDeviceRundownList.size(), 1u);
    EXPECT_EQ(replay.lists.PepDeviceRundownList[0].DeviceName, "\\_SB.PC00.HDAS");
    EXPECT_EQ(replay.lists.PepDeviceRundownList[0].PowerStates[0], 3);
    EXPECT_EQ(replay.capture.Text(),
              "\nINFORMATION:: Number of buffers lost: 2"
              "\nERROR:: Data read from Events is Invalid. :: Error code: 15005"
              "\nERROR:: Cannot get property length of Event. :: Error code: 15005"
              "\nERROR:: Retriving information from events failed. :: Error code: 1168"
              "\nERROR:: Cannot get event information. :: Error code: 1168");
    EXPECT_TRUE(replay.consumer.closed);
    EXPECT_EQ(replay.consumer.openedName, Utf8ToUtf16(replay.Directory() + "\\VQTSystemTrace.etl"));
}

TEST(ProcessPowerTrace, PointerSizeFollowsTheHeaderFlag)
{
    for (uint16_t flags : {uint16_t{0}, EventHeaderFlag32BitHeader}) {
        Replay replay;
        replay.events = {Registration(u"a", u"b")};
        replay.events[0].flags = flags | 0x0100;
        replay.Run();
        uint32_t expected = flags != 0 ? 4 : 8;
        EXPECT_FALSE(replay.tdh.pointerSizes.empty());
        for (uint32_t size : replay.tdh.pointerSizes) {
            EXPECT_EQ(size, expected);
        }
    }
}

TEST(ProcessPowerTrace, OpenAndProcessFailures)
{
    struct Case {
        bool openFails;
        uint32_t lastError;
        uint32_t processStatus;
        int32_t result;
        std::string log;
    };
    const Case cases[] = {
        {true, 0, 0, 31, "\nERROR:: OpenTrace failed."},
        {false, 0, 1223, 0, "\nINFORMATION:: Number of buffers lost: 2"},
        {false, 0, 87, 87,
         "\nINFORMATION:: Number of buffers lost: 2\nERROR:: ProcessTrace failed. :: Error code: 87"},
    };
    for (const Case& c : cases) {
        Replay replay;
        replay.consumer.openFails = c.openFails;
        replay.consumer.lastError = c.lastError;
        replay.consumer.processStatus = c.processStatus;
        test::WriteFile(replay.capture.Dir.Path() / "VQTSystemTrace.etl", "trace");
        replay.Run();
        EXPECT_EQ(replay.status, c.result);
        EXPECT_EQ(replay.capture.Text(), c.log);
        EXPECT_EQ(replay.consumer.closed, !c.openFails);
        EXPECT_FALSE(std::filesystem::exists(replay.capture.Dir.Path() / "VQTSystemTrace.etl"));
    }
}

}  // namespace
}  // namespace dormex
