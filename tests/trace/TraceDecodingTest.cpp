#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "TestPlatform.h"
#include "common/Text.h"
#include "platform/Tdh.h"
#include "platform/TraceProviders.h"
#include "trace/RundownLists.h"
#include "trace/TraceDecoding.h"

namespace dormex {
namespace {

constexpr uint16_t InTypeUInt32 = 8;

// One event as the fake decoder describes it.
struct FakeEvent {
    uint16_t id = 320;
    uint32_t decodingSource = 0;
    std::vector<EventPropertyInfo> properties;
    uint32_t topLevel = 0;
    std::vector<uint8_t> data;
    std::map<std::u16string, uint32_t> numbers;  // values of length and count properties
    std::map<std::u16string, std::vector<std::u16string>> maps;
    uint32_t infoStatus = 0;
    uint32_t mapStatus = 0;
    Guid provider = KernelPowerProvider;
    uint16_t flags = 0;
};

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

void AppendText(std::vector<uint8_t>& data, std::u16string_view text)
{
    for (char16_t unit : text) {
        data.push_back(static_cast<uint8_t>(unit));
        data.push_back(static_cast<uint8_t>(unit >> 8));
    }
    data.push_back(0);
    data.push_back(0);
}

void AppendNumber(std::vector<uint8_t>& data, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        data.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

// Serves structures, arrays, counts, lengths and value maps; formats strings
// and 32-bit numbers (through a map when there is one, the number picking the entry).
class FakeTdh final : public Tdh {
public:
    const FakeEvent& Of(const EventRecord& event) { return *static_cast<const FakeEvent*>(event.Native); }

    uint32_t GetEventInformation(const EventRecord& event, TraceEventInfo* info,
                                 uint32_t* bufferSize) override
    {
        const FakeEvent& fake = Of(event);
        if (fake.infoStatus != 0) {
            return fake.infoStatus;
        }
        if (info == nullptr) {
            *bufferSize = 100;
            return 122;
        }
        info->DecodingSource = fake.decodingSource;
        info->EventId = fake.id;
        info->TopLevelPropertyCount = fake.topLevel;
        info->EventPropertyInfoArray = fake.properties;
        return 0;
    }
    uint32_t GetPropertySize(const EventRecord&, const std::u16string&, uint32_t* size) override
    {
        *size = 4;
        return 0;
    }
    uint32_t GetProperty(const EventRecord& event, const std::u16string& name, uint32_t size,
                         uint8_t* buffer) override
    {
        const FakeEvent& fake = Of(event);
        auto number = fake.numbers.find(name);
        if (number == fake.numbers.end()) {
            return 1168;
        }
        EXPECT_LE(size, 4u);
        std::memcpy(buffer, &number->second, size);
        return 0;
    }
    uint32_t GetEventMapInformation(const EventRecord& event, const std::u16string& name,
                                    EventMapInfo* map, uint32_t* size) override
    {
        const FakeEvent& fake = Of(event);
        if (fake.mapStatus != 0) {
            return fake.mapStatus;
        }
        auto entries = fake.maps.find(name);
        if (name.empty() || entries == fake.maps.end()) {
            return 1168;
        }
        if (map == nullptr) {
            *size = 64;
            return 122;
        }
        map->EntryOutputs = entries->second;
        return 0;
    }
    uint32_t FormatProperty(const TraceEventInfo&, const EventMapInfo* map, uint32_t pointerSize,
                            uint16_t inType, uint16_t, uint16_t length, uint16_t remaining,
                            const uint8_t* data, uint32_t* bufferSize, char16_t* buffer,
                            uint16_t* consumed) override
    {
        pointerSizes.push_back(pointerSize);
        std::u16string text;
        uint16_t used = 0;
        if (inType == TdhInTypeUnicodeString) {
            for (; used + 1 < remaining; used += 2) {
                char16_t unit = static_cast<char16_t>(data[used] | data[used + 1] << 8);
                if (unit == 0) {
                    break;
                }
                text.push_back(unit);
            }
            if (used + 1 >= remaining) {
                return 15005;
            }
            used += 2;
        } else if (inType == InTypeUInt32 && length == 4 && remaining >= 4) {
            uint32_t value = 0;
            std::memcpy(&value, data, 4);
            text = map != nullptr && value < map->EntryOutputs.size() ? map->EntryOutputs[value]
                                                                      : Widen(std::to_string(value));
            used = 4;
        } else {
            return 1;
        }
        uint32_t needed = static_cast<uint32_t>(2 * (text.size() + 1));
        if (*bufferSize < needed) {
            *bufferSize = needed;
            return 122;
        }
        std::memcpy(buffer, text.c_str(), needed);
        *consumed = used;
        return 0;
    }

    std::vector<uint32_t> pointerSizes;
};

// Delivers the header event and the given events, as ProcessTrace does.
class FakeConsumer final : public EventTraceConsumer {
public:
    std::vector<FakeEvent>* events = nullptr;
    bool openFails = false;
    uint32_t lastError = 0;
    uint32_t processStatus = 0;
    bool closed = false;
    std::u16string openedName;

    TraceHandle OpenTrace(EventTraceLogfile& logfile) override
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
            EventRecord record;
            record.ProviderId = fake.provider;
            record.Id = fake.id;
            record.Flags = fake.flags;
            record.UserData = fake.data.data();
            record.UserDataLength = static_cast<uint16_t>(fake.data.size());
            record.Native = &fake;
            callback(record);
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
    FakeEvent event;
    event.id = 320;
    event.properties = {Property(u"DeviceId", TdhInTypeUnicodeString),
                        Property(u"ServiceName", TdhInTypeUnicodeString)};
    event.topLevel = 2;
    AppendText(event.data, id);
    AppendText(event.data, service);
    return event;
}

struct Replay {
    test::LogCapture capture;
    FakeTdh tdh;
    FakeConsumer consumer;
    RundownLists lists;
    std::vector<FakeEvent> events;
    int32_t status = -1;

    std::string Directory() const { return capture.Dir.Path().string(); }
    void Run()
    {
        consumer.events = &events;
        status = ProcessPowerTrace(Directory(), lists, capture.Log, consumer, tdh, capture.Files);
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
    DeviceFile file((capture.Dir.Path() / "scratch.txt").string(), capture.Files);
    TraceDecoder decoder{lists, capture.Log, tdh, file};
    EventRecord record;
    record.ProviderId = event.provider;
    record.Id = event.id;
    record.UserData = event.data.data();
    record.UserDataLength = static_cast<uint16_t>(event.data.size());
    record.Native = &event;
    TraceEventInfo info;
    tdh.GetEventInformation(record, &info, nullptr);
    EXPECT_TRUE(file.Open());
    size_t position = 0;
    bool ok = true;
    for (size_t i = 0; ok && i < info.TopLevelPropertyCount; ++i) {
        auto next = WriteEventProperty(record, info, 8, i, position, event.data.size(), decoder);
        ok = next.has_value();
        position = next.value_or(position);
    }
    file.Close();
    return {test::ReadFile(capture.Dir.Path() / "scratch.txt"), capture.Text(), ok};
}

TEST(WriteEventProperty, ArraysStructuresCountsLengthsAndMaps)
{
    struct Case {
        const char* name;
        FakeEvent event;
        std::string lines;
    };
    std::vector<Case> cases;
    {
        FakeEvent array;
        array.properties = {Property(u"PowerState", InTypeUInt32, 3, 4)};
        array.topLevel = 1;
        for (uint32_t value : {3u, 0u, 2u}) AppendNumber(array.data, value);
        cases.push_back({"array of three", array, "PowerState: 3\nPowerState: 0\nPowerState: 2\n"});
    }
    {
        FakeEvent structure;
        structure.properties = {Property(u"Dependency", 0, 1, 0, PropertyStruct),
                                Property(u"DeviceId", TdhInTypeUnicodeString),
                                Property(u"PowerState", InTypeUInt32, 1, 4)};
        structure.properties[0].StructStartIndex = 1;
        structure.properties[0].NumOfStructMembers = 2;
        structure.topLevel = 1;
        AppendText(structure.data, u"0x1");
        AppendNumber(structure.data, 3);
        cases.push_back({"structure", structure, "DeviceId: 0x1\nPowerState: 3\n"});
    }
    {
        FakeEvent counted;
        counted.properties = {Property(u"Count", InTypeUInt32, 1, 4),
                              Property(u"PowerState", InTypeUInt32, 0, 4, PropertyParamCount),
                              Property(u"After", InTypeUInt32, 1, 4)};
        counted.properties[1].Count = 0;  // the count property's index
        counted.topLevel = 3;
        counted.numbers[u"Count"] = 0x10000;  // only the low 16 bits count: 0
        AppendNumber(counted.data, 0);
        AppendNumber(counted.data, 7);
        cases.push_back({"zero count", counted, "Count: 0\nAfter: 7\n"});
    }
    {
        FakeEvent counted;
        counted.properties = {Property(u"Count", InTypeUInt32, 1, 4),
                              Property(u"PowerState", InTypeUInt32, 0, 4, PropertyParamCount)};
        counted.topLevel = 2;
        counted.numbers[u"Count"] = 2;
        for (uint32_t value : {2u, 1u, 3u}) AppendNumber(counted.data, value);
        cases.push_back({"count of two", counted, "Count: 2\nPowerState: 1\nPowerState: 3\n"});
    }
    {
        FakeEvent lengthed;
        lengthed.properties = {Property(u"Size", InTypeUInt32, 1, 4),
                               Property(u"Value", InTypeUInt32, 1, 0, PropertyParamLength)};
        lengthed.topLevel = 2;
        lengthed.numbers[u"Size"] = 4;
        AppendNumber(lengthed.data, 4);
        AppendNumber(lengthed.data, 9);
        cases.push_back({"length property", lengthed, "Size: 4\nValue: 9\n"});
    }
    {
        FakeEvent mapped;
        mapped.properties = {Property(u"State", InTypeUInt32, 1, 4)};
        mapped.properties[0].MapName = u"StateMap";
        mapped.maps[u"StateMap"] = {u"Idle ", u"Active ", u""};
        mapped.topLevel = 1;
        AppendNumber(mapped.data, 1);
        cases.push_back({"manifest map", mapped, "State: Active\n"});
        mapped.decodingSource = 1;
        cases.push_back({"other map", mapped, "State: Active \n"});
        mapped.decodingSource = 0;
        mapped.data.clear();
        AppendNumber(mapped.data, 2);
        cases.push_back({"empty map text", mapped, "State: \n"});
    }
    for (const Case& c : cases) {
        Decoded decoded = Decode(c.event);
        EXPECT_TRUE(decoded.ok) << c.name << decoded.log;
        EXPECT_EQ(decoded.lines, c.lines) << c.name;
        EXPECT_EQ(decoded.log, "") << c.name;
    }
}

TEST(WriteEventProperty, FailuresLogTheirMessages)
{
    struct Case {
        const char* name;
        FakeEvent event;
        std::string log;
    };
    std::vector<Case> cases;
    {
        FakeEvent noLength;
        noLength.properties = {Property(u"Value", InTypeUInt32, 1, 0)};
        noLength.topLevel = 1;
        AppendNumber(noLength.data, 1);
        cases.push_back({"no length", noLength,
                         "\nERROR:: Data read from Events is Invalid. :: Error code: 15005"
                         "\nERROR:: Cannot get property length of Event. :: Error code: 15005"});
    }
    {
        FakeEvent lengthMissing;
        lengthMissing.properties = {Property(u"Size", InTypeUInt32, 1, 4),
                                    Property(u"Value", InTypeUInt32, 1, 0, PropertyParamLength)};
        lengthMissing.topLevel = 2;
        AppendNumber(lengthMissing.data, 4);
        AppendNumber(lengthMissing.data, 9);
        cases.push_back({"length not readable", lengthMissing,
                         "\nERROR:: Cannot get property length of Event. :: Error code: 1168"});
    }
    {
        FakeEvent mapFails;
        mapFails.properties = {Property(u"State", InTypeUInt32, 1, 4)};
        mapFails.topLevel = 1;
        mapFails.mapStatus = 87;
        AppendNumber(mapFails.data, 1);
        cases.push_back({"map fails", mapFails,
                         "\nERROR:: Cannot get event map information. :: Error code: 87"
                         "\nERROR:: Cannot access Map value for event. :: Error code: 87"});
        mapFails.mapStatus = 14;
        cases.push_back({"map memory", mapFails,
                         "\nERROR:: Cannot allocate memory for events. :: Error code: 14"
                         "\nERROR:: Cannot access Map value for event. :: Error code: 14"});
    }
    {
        FakeEvent badMember;
        badMember.properties = {Property(u"Count", InTypeUInt32, 1, 4),
                                Property(u"Pair", 0, 0, 0, PropertyStruct | PropertyParamCount),
                                Property(u"Value", InTypeUInt32, 1, 0)};
        badMember.properties[1].StructStartIndex = 2;
        badMember.properties[1].NumOfStructMembers = 1;
        badMember.topLevel = 2;
        badMember.numbers[u"Count"] = 1;
        AppendNumber(badMember.data, 1);
        AppendNumber(badMember.data, 5);
        cases.push_back({"structure member", badMember,
                         "\nERROR:: Data read from Events is Invalid. :: Error code: 15005"
                         "\nERROR:: Cannot get property length of Event. :: Error code: 15005"
                         "\nERROR:: Printing members of event structure failed."});
    }
    {
        FakeEvent loop;
        loop.properties = {Property(u"Self", 0, 1, 0, PropertyStruct)};
        loop.properties[0].StructStartIndex = 0;
        loop.properties[0].NumOfStructMembers = 1;
        loop.topLevel = 1;
        std::string messages = "\nERROR:: Data read from Events is Invalid. :: Error code: 15005";
        for (int i = 0; i <= 32; ++i) {
            messages += "\nERROR:: Printing members of event structure failed.";
        }
        cases.push_back({"structure containing itself", loop, messages});
    }
    {
        FakeEvent outOfRange;
        outOfRange.properties = {Property(u"Only", TdhInTypeUnicodeString)};
        outOfRange.topLevel = 3;
        AppendText(outOfRange.data, u"x");
        cases.push_back({"more top-level properties than described", outOfRange,
                         "\nERROR:: Data read from Events is Invalid. :: Error code: 15005"});
    }
    {
        FakeEvent unterminated;
        unterminated.properties = {Property(u"Text", TdhInTypeUnicodeString)};
        unterminated.topLevel = 1;
        unterminated.data = {'a', 0, 'b'};
        cases.push_back({"formatting fails silently", unterminated, ""});
    }
    for (const Case& c : cases) {
        Decoded decoded = Decode(c.event);
        EXPECT_FALSE(decoded.ok) << c.name;
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
    FakeEvent pep;
    pep.id = 2;
    pep.provider = *ParseGuid("{01234567-89ab-cdef-0123-456789abcdef}");
    pep.properties = {Property(u"DeviceName", TdhInTypeUnicodeString),
                      Property(u"PlatformStateDependencyCount", TdhInTypeUnicodeString),
                      Property(u"PowerState", TdhInTypeUnicodeString)};
    pep.topLevel = 3;
    AppendText(pep.data, u"\\_SB.PC00.HDAS");
    AppendText(pep.data, u"1");
    AppendText(pep.data, u"3");
    FakeEvent failingInfo = Registration(u"\\_SB.PC00.NOIN", u"x");
    failingInfo.infoStatus = 1168;
    replay.events = {Registration(u"\\_SB.PC00.HDAS", u"HDAudBus"), broken, mof, other, pep,
                     failingInfo, Registration(u"\\_SB.PC00.XHCI", u"USBXHCI")};
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
    EXPECT_EQ(replay.consumer.openedName, Widen(replay.Directory() + "\\VQTSystemTrace.etl"));
    EXPECT_FALSE(std::filesystem::exists(replay.capture.Dir.Path() / "VQT_Device_file.txt"));
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
        {true, 5, 0, 5, "\nERROR:: OpenTrace failed. :: Error code: 5"},
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
