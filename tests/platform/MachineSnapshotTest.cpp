#include <algorithm>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "TestFiles.h"
#include "TestPlatform.h"
#include "analysis/StorageCases.h"
#include "common/StrictJson.h"
#include "common/Text.h"
#include "devices/DeviceProperties.h"
#include "platform/DevicePropertyKeys.h"
#include "platform/NativeFileSystem.h"
#include "platform/record/MachineRecorder.h"
#include "platform/replay/ReplayMachine.h"
#include "platform/snapshot/Answers.h"
#include "platform/snapshot/MachineSnapshot.h"

namespace dormex {
namespace {

using test::ParseSnapshotOrFail;

// What the replayed services make of each member shows in the tests of the
// program's steps and in the end-to-end scenarios, which also record each
// scenario's machine, replay the recording and record it again byte for byte.
// Here the canonical form no run checks: members in the format's order, maps
// sorted, registry names as they compare, members at their defaults left out,
// arrays of strings on one line, a provider GUID in upper case.
TEST(MachineSnapshot, WritesWhatItReadInCanonicalForm)
{
    EXPECT_EQ(WriteMachineSnapshot(ParseSnapshotOrFail(R"({
      "faults": {"OpenTraceW": 0, "StartTraceW": [183, 0]},
      "events": [{"provider": "{01234567-89ab-cdef-0123-456789abcdef}", "id": 2, "opcode": 0,
                  "properties": [["DeviceId", "\\_SB.PC00.HDAS"]], "pointerSize": 4}],
      "registry": {"System\\Enum\\WDF\\": {"Idle": 1, "Blob": {"hex": "0aFF"}}},
      "format": "dormex-machine/1",
      "devices": {"PCI\\B": {"HardwareIds": ["PCI\\B", "PCI"], "Class": "MEDIA"}, "PCI\\A": {}}})")),
              R"({
  "format": "dormex-machine/1",
  "administrator": true,
  "powerCapabilities": {
    "AoAc": false
  },
  "registry": {
    "system\\enum\\wdf": {
      "blob": {
        "hex": "0aff"
      },
      "idle": 1
    }
  },
  "events": [
    {
      "provider": "{01234567-89AB-CDEF-0123-456789ABCDEF}",
      "id": 2,
      "pointerSize": 4,
      "properties": [
        ["DeviceId", "\\_SB.PC00.HDAS"]
      ]
    }
  ],
  "devices": {
    "PCI\\A": {},
    "PCI\\B": {
      "Class": "MEDIA",
      "HardwareIds": ["PCI\\B", "PCI"]
    }
  },
  "faults": {
    "StartTraceW": [183, 0],
    "OpenTraceW": 0
  }
}
)");
}

// Text is written as nlohmann's serializer writes it: every ASCII character,
// text outside ASCII, and bytes that are not UTF-8 (each sequence replaced).
TEST(MachineSnapshot, WritesTextAsTheJsonSerializerDoes)
{
    std::string ascii;
    for (int c = 0; c < 0x80; ++c) {
        ascii += static_cast<char>(c);
    }
    std::vector<std::string> texts = {ascii, "Ger\xC3\xA4t \\ \"x\"", "bad \xC3 \xFF\xFE end\n"};
    // Plain text is read a block at a time (sixteen bytes, or eight in a
    // shorter text), and its last few as the last block again: a character
    // to escape at every place of texts shorter than a block and longer, and
    // at the end.
    for (std::string_view special : {"\"", "\\", "\x1F", "\x7F", "\xC3\xA4"}) {
        for (size_t length : {5, 12, 19, 37}) {
            for (size_t at = 0; at <= length; ++at) {
                texts.push_back(std::string(length, 'a').insert(at, special));
            }
        }
    }
    for (const std::string& text : texts) {
        MachineSnapshot snapshot;
        snapshot.Description = text;
        const std::string written = WriteMachineSnapshot(snapshot);
        const std::string expected =
            nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        EXPECT_NE(written.find("\"description\": " + expected + ",\n"), std::string::npos)
            << written;
    }
}

// A device's values are kept encoded: each kind, empty ones, a value set
// again with another kind and size, and the name order they come back in.
TEST(MachineSnapshot, DeviceValuesKeepTheirKindsAndNameOrder)
{
    const std::vector<std::pair<std::string, SnapshotDeviceValue>> values = {
        {"Service", std::string("svc")},
        {"HardwareIds", std::vector<std::string>{"PCI\\VEN_1", "", std::string("a\0b", 3)}},
        {"ProblemCode", int32_t{-28}},
        {"PowerData", std::vector<uint8_t>{0, 255, 7}},
        {"Class", std::string()},
        {"Children", std::vector<std::string>{}},
        {"DriverRank", int32_t{0}},
        // Lengths from 255 on take more room.
        {"FriendlyName", std::string(255, 'n')},
        {"LocationPaths", std::vector<std::string>{std::string(254, 'a'), std::string(256, 'b')}},
    };
    SnapshotDeviceProperties properties;
    EXPECT_TRUE(properties.Set(DevicePropertyIndex("Service"), std::vector<uint8_t>(300, 1)));
    for (const auto& [name, value] : values) {
        EXPECT_TRUE(properties.Set(DevicePropertyIndex(name), value)) << name;
    }
    EXPECT_FALSE(properties.Set(DevicePropertyIndex("NoSuchField"), int32_t{1}));
    for (const auto& [name, value] : values) {
        EXPECT_EQ(properties.Find(DevicePropertyIndex(name)), value) << name;
    }
    EXPECT_EQ(properties.Find(DevicePropertyIndex("Parent")), std::nullopt);
    // Visited in name order, each value whole, whatever kind came before it.
    std::vector<std::pair<std::string, SnapshotDeviceValue>> visited;
    properties.ForEach([&](std::string_view name, const SnapshotDeviceValueView& value) {
        visited.emplace_back(name, ValueOfView(value));
    });
    auto expected = values;
    std::sort(expected.begin(), expected.end(),
              [](const auto& left, const auto& right) { return left.first < right.first; });
    EXPECT_EQ(visited, expected);
    // A list of 255 entries or more counts them in more room; a value after
    // it is found past them.
    std::vector<std::string> entries;
    for (int i = 0; i < 300; ++i) {
        entries.push_back(std::to_string(i));
    }
    SnapshotDeviceProperties many;
    many.Set(DevicePropertyIndex("Children"), entries);
    many.Set(DevicePropertyIndex("Service"), std::string("after"));
    EXPECT_EQ(many.Find(DevicePropertyIndex("Children")), SnapshotDeviceValue(entries));
    EXPECT_EQ(many.Find(DevicePropertyIndex("Service")), SnapshotDeviceValue("after"));

    // An event's properties: empty texts, a zero byte, and UTF-16 converted.
    SnapshotEventProperties event;
    const std::string longText(300, 'v');
    event.Add("", std::string_view("a\0b", 3));
    event.Add(u"Name\u00E9", u"");
    event.Add(std::u16string(255, u'w'), std::u16string(254, u'x'));
    event.Add(longText, "z");
    const std::vector<SnapshotEventProperties::Property> pairs(event.begin(), event.end());
    const std::string wide255(255, 'w');
    const std::string wide254(254, 'x');
    EXPECT_EQ(pairs,
              (std::vector<SnapshotEventProperties::Property>{{"", std::string_view("a\0b", 3)},
                                                              {"Name\xC3\xA9", ""},
                                                              {wide255, wide254},
                                                              {longText, "z"}}));
    EXPECT_EQ(event.size(), 4u);
}

TEST(MachineSnapshot, RejectsWithThePathOfTheOffendingMember)
{
    struct Case {
        std::string json;
        std::string path;
        const char* messageStart;
    };
    // Nesting is refused at its limit, however deep the document goes.
    std::string deep = R"({"format": "dormex-machine/1", "x": )";
    for (int i = 0; i < 100000; ++i) {
        deep += R"({"a": )";
    }
    std::string deepPath = "$.x";
    for (int level = 1; level < MaxJsonDepth; ++level) {
        deepPath += ".a";
    }
    const Case cases[] = {
        {R"({"format": "dormex-machine/2"})", "$.format", "expected"},
        {R"({"administrator": true})", "$", "missing member \"format\""},
        {R"({"format": "dormex-machine/1", "firmwareTables": {"LPIT": "4c5"}})",
         "$.firmwareTables.LPIT", "bad hex"},
        {R"({"format": "dormex-machine/1", "faults": {"interrupt": "StopTraceW"}})",
         "$.faults.interrupt",
         "expected the name of a call a run can be interrupted in: RegGetValueA, Sleep, "
         "ProcessTrace, GetSystemFirmwareTable, CM_Locate_DevNodeW"},
        // Hostile snapshots: no exception escapes, no member silently wins.
        {R"({"format": "dormex-machine/1", "events": [{"id": 1e400}]})", "$.events[0].id",
         "not valid JSON: [json.exception.out_of_range.406] number overflow"},
        {R"({"format": "dormex-machine/1", "administrator": true, "administrator": false})",
         "$.administrator", "a member named twice"},
        {R"({"format": "dormex-machine/1", "registry": {"a\\b": {}, "A\\B\\": {}}})",
         "$.registry[\"a\\\\b\"]", "the same key as another"},
        {deep, deepPath, "nested deeper than 64 levels"},
        // Events and devices are read one by one as the parser reaches them.
        {R"({"format": "dormex-machine/1", "devices": {"PCI\\A": {}, "pci\\a": {}}})",
         "$.devices[\"pci\\\\a\"]", "the same instance id as another"},
        {R"({"format": "dormex-machine/1", "events": [{"id": 2, "properties": []}, 7]})",
         "$.events[0]", "missing member \"provider\""},
        {R"({"format": "dormex-machine/1", "events": {"a": {}}})", "$.events", "expected an array"},
        // A field no device property has, even with a value of no kind.
        {R"({"format": "dormex-machine/1", "devices": {"PCI\\A": {"Colour": null}}})",
         "$.devices[\"PCI\\\\A\"].Colour", "unknown member (not a device property field)"},
        {R"({"format": "dormex-machine/1", "devices": {"PCI\\A": {"Class": [1]}}})",
         "$.devices[\"PCI\\\\A\"].Class[0]", "expected a string"},
    };
    for (const Case& c : cases) {
        auto parsed = ParseMachineSnapshot(c.json);
        auto* error = std::get_if<SnapshotError>(&parsed);
        ASSERT_NE(error, nullptr) << c.json.substr(0, 200);
        EXPECT_EQ(error->Path, c.path) << c.json.substr(0, 200);
        EXPECT_EQ(error->Message.rfind(c.messageStart, 0), 0u)
            << c.json.substr(0, 200) << " gave: " << error->Message;
    }
}

// A snapshot that does not parse is in the end-to-end scenarios.
TEST(MachineSnapshot, MissingFileIsNamed)
{
    test::TempDir dir;
    auto missing = LoadMachineSnapshot((dir.Path() / "none.json").string());
    ASSERT_TRUE(std::holds_alternative<std::string>(missing));
    EXPECT_NE(std::get<std::string>(missing).find("cannot be opened"), std::string::npos);
}

// An empty byte string is served as nothing (the sanitizer build catches a
// copy from the null data of an empty vector).
TEST(ReplayMachine, EmptyByteStringsAreServedAsNothing)
{
    test::TestMachine machine(R"({"format": "dormex-machine/1",
      "registry": {"k": {"b": {"hex": ""}}},
      "devices": {"PCI\\A": {"PowerData": {"hex": ""}}},
      "scsiPorts": {"0": {"answer": ""}}})");
    Platform& platform = machine.Services;
    uint8_t byte = 7;
    uint32_t size = 1;
    EXPECT_EQ(platform.registry.GetValue("k", "b", RegistryTypeBinary, &byte, &size), 0u);
    EXPECT_EQ(size, 0u);
    DebugLog& log = machine.State.Log;
    EXPECT_EQ(QueryDeviceProperties(u"PCI\\A", log, platform.deviceManager).PowerData, "");
    EXPECT_FALSE(ProbeStorageCache(log, platform.deviceIo));
}

// A device asked for under two spellings of its id is one device, filed
// under the first, with what each ask read.
TEST(MachineRecorder, FilesADeviceUnderItsFirstSpelling)
{
    test::TestMachine machine(R"({"format": "dormex-machine/1",
      "devices": {"PCI\\VEN_1\\X": {"Service": "svc", "ProblemCode": 3},
                  "PCI\\VEN_2": {"Service": "other"}}})");
    MachineRecorder recorder(machine.Services);
    Platform recording = recorder.RecordingPlatform();
    DebugLog& log = machine.State.Log;
    EXPECT_EQ(QueryDeviceProperties(u"pci\\ven_1\\x", log, recording.deviceManager).Service, "svc");
    EXPECT_EQ(QueryDeviceProperties(u"PCI\\VEN_1\\X", log, recording.deviceManager).ProblemCode, 3);
    QueryDeviceProperties(u"PCI\\VEN_2", log, recording.deviceManager);
    const MachineSnapshot snapshot = recorder.TakeSnapshot();
    std::vector<std::string> ids;
    for (const auto& [id, properties] : snapshot.Devices) {
        ids.push_back(id);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"PCI\\VEN_2", "pci\\ven_1\\x"}));
    const SnapshotDeviceProperties& device = snapshot.Devices.at("pci\\ven_1\\x");
    EXPECT_EQ(device.Find(DevicePropertyIndex("Service")), SnapshotDeviceValue("svc"));
    EXPECT_EQ(device.Find(DevicePropertyIndex("ProblemCode")), SnapshotDeviceValue(int32_t{3}));
}

// A device handle that the platform gives out again, for another device,
// files what is read through it under the device located last; a device
// asked about again keeps what was read before.
TEST(MachineRecorder, FollowsAHandleGivenAgainToAnotherDevice)
{
    // Every device has handle 7, and its id as its Service.
    struct OneHandle : DeviceManager {
        std::u16string located;
        uint32_t LocateDevNode(DevInst* devInst, const std::u16string& instanceId,
                               uint32_t) override
        {
            *devInst = 7;
            located = instanceId;
            return CrSuccess;
        }
        uint32_t GetDevNodeProperty(DevInst, const DevPropKey&, uint32_t* propertyType,
                                    uint8_t* buffer, uint32_t* bufferSize, uint32_t) override
        {
            const std::vector<uint8_t> answer = WideTextBytes(Utf16ToUtf8(located));
            std::copy(answer.begin(), answer.end(), buffer);
            *bufferSize = static_cast<uint32_t>(answer.size());
            *propertyType = DevPropTypeString;
            return CrSuccess;
        }
    } devices;
    test::TestMachine machine(R"({"format": "dormex-machine/1"})");
    const Platform& s = machine.Services;
    MachineRecorder recorder(Platform{s.registry, s.power, s.security, s.traceController,
                                      s.traceConsumer, s.tdh, devices, s.firmwareTables, s.deviceIo,
                                      s.files, s.console, s.interruption});
    DeviceManager& recording = recorder.RecordingPlatform().deviceManager;
    const std::pair<const char16_t*, const char*> asks[] = {
        {u"PCI\\A", "Service"}, {u"PCI\\B", "Service"}, {u"PCI\\A", "Class"}};
    for (const auto& [id, field] : asks) {
        DevInst node = 0;
        recording.LocateDevNode(&node, id, 0);
        uint8_t buffer[64];
        uint32_t size = sizeof buffer;
        uint32_t type = 0;
        const DevPropKey key = DevicePropertyKeys[DevicePropertyIndex(field)].Key;
        recording.GetDevNodeProperty(node, key, &type, buffer, &size, 0);
    }
    const MachineSnapshot snapshot = recorder.TakeSnapshot();
    ASSERT_EQ(snapshot.Devices.size(), 2u);
    for (const auto& [id, device] : snapshot.Devices) {
        EXPECT_EQ(device.Find(DevicePropertyIndex("Service")), SnapshotDeviceValue(id));
    }
    EXPECT_EQ(snapshot.Devices.at("PCI\\A").Find(DevicePropertyIndex("Class")),
              SnapshotDeviceValue("PCI\\A"));
    EXPECT_EQ(snapshot.Devices.at("PCI\\B").Find(DevicePropertyIndex("Class")), std::nullopt);
}

// A recording or results file holds what was written, whatever was there
// before: nothing, a longer file, a shorter one, or a link to a file, which
// is written through.
TEST(NativeFileSystem, WritesAFileWholeOverWhatWasThere)
{
    const test::TempDir dir;
    const std::filesystem::path path = dir.Path() / "recorded.json";
    const std::filesystem::path target = dir.Path() / "target.json";
    const std::string text = "{\n  \"format\": \"dormex-machine/1\"\n}\n";
    const std::unique_ptr<FileSystem> files = MakeNativeFileSystem();
    bool linked = false;
    for (const std::string before : {"", "longer", "shorter", "link"}) {
        std::filesystem::remove(path);
        if (before == "link") {
            test::WriteFile(target, std::string(3 * text.size(), 'x'));
            std::error_code error;
            std::filesystem::create_symlink(target, path, error);
            if (error) {
                continue;  // no symbolic links here
            }
            linked = true;
        } else if (!before.empty()) {
            test::WriteFile(path, std::string(before == "longer" ? 3 * text.size() : 3, 'x'));
        }
        EXPECT_TRUE(files->WriteFileFrom(path.string(), [&](std::ostream& out) { out << text; }));
        EXPECT_EQ(test::ReadFile(path), text) << before;
    }
    if (linked) {
        EXPECT_TRUE(std::filesystem::is_symlink(path));
        EXPECT_EQ(test::ReadFile(target), text);
    }
}

}  // namespace
}  // namespace dormex
