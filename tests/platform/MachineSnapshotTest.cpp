#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "TestPlatform.h"
#include "platform/snapshot/MachineSnapshot.h"
#include "platform/replay/ReplayMachine.h"

namespace dormex {
namespace {

using test::ParseSnapshotOrFail;

// The example of the snapshot format's documentation, every member used.
constexpr const char* FullSnapshot = R"({
  "format": "dormex-machine/1",
  "description": "free text",
  "administrator": false,
  "powerCapabilities": { "AoAc": true },
  "registry": {
    "hardware\\description\\system\\centralprocessor\\0": {
      "Identifier": "x64 Family 6 Model 140 Stepping 1"
    },
    "system\\CurrentControlSet\\Enum\\PCI\\VEN_1234&DEV_0001\\Device Parameters\\WDF\\": {
      "IdleInWorkingState": 1, "Blob": {"hex": "0aFF"}
    }
  },
  "events": [
    { "provider": "Microsoft-Windows-Kernel-Power", "id": 320,
      "properties": [["DeviceId", "\\_SB.PC00.HDAS"], ["ServiceName", "HDAudBus"]] },
    { "provider": "{01234567-89ab-cdef-0123-456789abcdef}", "id": 2, "decodingSource": 1,
      "opcode": 3, "pointerSize": 4, "properties": [] }
  ],
  "devices": {
    "PCI\\VEN_1234&DEV_0001\\3&1&0&F8": {
      "Class": "MEDIA", "HardwareIds": ["PCI\\VEN_1234&DEV_0001", "PCI\\VEN_1234"],
      "ProblemCode": 0, "LegacyBusType": -1, "PowerData": {"hex": "0100"}
    }
  },
  "firmwareTables": { "LPIT": "4c504954" },
  "scsiPorts": { "0": { "answer": "1c000000" }, "1": { "ioctlFails": true } },
  "faults": { "StartTraceW": 183, "EnableTraceEx2": {"2": 5}, "OpenTraceW": 0,
              "GetSystemFirmwareTable": "grow" }
})";

// What the replayed services make of each member is tested with the service;
// here what no service shows, through the canonical form of what was read:
// members in the format's order, maps sorted, registry names as they compare,
// members at their defaults left out.
TEST(MachineSnapshot, WritesWhatItReadInCanonicalForm)
{
    struct Case {
        const char* json;
        const char* written;
    };
    const Case cases[] = {
        {R"({"format": "dormex-machine/1"})", R"({
  "format": "dormex-machine/1",
  "administrator": true,
  "powerCapabilities": {
    "AoAc": false
  }
}
)"},
        {FullSnapshot, R"({
  "format": "dormex-machine/1",
  "description": "free text",
  "administrator": false,
  "powerCapabilities": {
    "AoAc": true
  },
  "registry": {
    "hardware\\description\\system\\centralprocessor\\0": {
      "identifier": "x64 Family 6 Model 140 Stepping 1"
    },
    "system\\currentcontrolset\\enum\\pci\\ven_1234&dev_0001\\device parameters\\wdf": {
      "blob": {
        "hex": "0aff"
      },
      "idleinworkingstate": 1
    }
  },
  "events": [
    {
      "provider": "Microsoft-Windows-Kernel-Power",
      "id": 320,
      "properties": [
        ["DeviceId", "\\_SB.PC00.HDAS"],
        ["ServiceName", "HDAudBus"]
      ]
    },
    {
      "provider": "{01234567-89ab-cdef-0123-456789abcdef}",
      "id": 2,
      "decodingSource": 1,
      "opcode": 3,
      "pointerSize": 4,
      "properties": []
    }
  ],
  "devices": {
    "PCI\\VEN_1234&DEV_0001\\3&1&0&F8": {
      "Class": "MEDIA",
      "HardwareIds": ["PCI\\VEN_1234&DEV_0001", "PCI\\VEN_1234"],
      "LegacyBusType": -1,
      "PowerData": {
        "hex": "0100"
      },
      "ProblemCode": 0
    }
  },
  "firmwareTables": {
    "LPIT": "4c504954"
  },
  "scsiPorts": {
    "0": {
      "answer": "1c000000"
    },
    "1": {
      "ioctlFails": true
    }
  },
  "faults": {
    "StartTraceW": 183,
    "EnableTraceEx2": {
      "2": 5
    },
    "OpenTraceW": 0,
    "GetSystemFirmwareTable": "grow"
  }
}
)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WriteMachineSnapshot(ParseSnapshotOrFail(c.json)), c.written);
    }
}

// What the writer writes reads back as the same snapshot: written again, it
// gives the same text.
void ExpectRoundTrip(const MachineSnapshot& snapshot, const std::string& name)
{
    std::string written = WriteMachineSnapshot(snapshot);
    auto reread = ParseMachineSnapshot(written);
    if (auto* error = std::get_if<SnapshotError>(&reread)) {
        ADD_FAILURE() << name << ": the written snapshot does not parse: " << error->Path << ": "
                      << error->Message << "\n"
                      << written;
        return;
    }
    EXPECT_EQ(WriteMachineSnapshot(std::get<MachineSnapshot>(reread)), written) << name;
}

TEST(MachineSnapshot, ShippedMachinesRoundTrip)
{
    namespace fs = std::filesystem;
    const fs::path source = DORMEX_SOURCE_DIR;
    std::vector<fs::path> machines = {source / "machines" / "sample.json"};
    for (const auto& scenario : fs::directory_iterator(source / "tests" / "e2e" / "scenarios")) {
        if (fs::exists(scenario.path() / "machine.json")) {
            machines.push_back(scenario.path() / "machine.json");
        }
    }
    ASSERT_GE(machines.size(), 2u);
    for (const fs::path& machine : machines) {
        std::string text = test::ReadFile(machine);
        ASSERT_FALSE(text.empty()) << machine;
        auto parsed = ParseMachineSnapshot(text);
        if (std::holds_alternative<MachineSnapshot>(parsed)) {
            ExpectRoundTrip(std::get<MachineSnapshot>(parsed), machine.string());
        }
    }
}

// Each row changes the snapshot further, so that the last one sets a member of
// every kind; each shows the form it is written in.
TEST(MachineSnapshot, EveryFormRoundTrips)
{
    struct Case {
        void (*change)(MachineSnapshot&);
        std::string written;
    };
    const Case cases[] = {
        {[](MachineSnapshot& m) { m.PowerCapabilities[0] = 1; },
         R"("bytes": "01)" + std::string(38, '0') + "01" + std::string(110, '0') + "\""},
        {[](MachineSnapshot& m) {
             m.PowerCapabilities = {};
             m.PowerCapabilities[20] = 2;
         },
         R"("bytes": ")" + std::string(40, '0') + "02" + std::string(110, '0') + "\""},
        {[](MachineSnapshot& m) { m.PowerStatus = -1073741823; }, R"("status": -1073741823)"},
        {[](MachineSnapshot& m) {
             m.Faults.StartTraceW = {183, 5};
             m.Faults.StartTraceWAlways = false;
             m.Faults.ControlTraceW = 0xFFFFFFFF;
             m.Faults.StopTraceW = 2;
             m.Faults.ProcessTrace = 3;
             m.Faults.Interrupt = "Sleep";
         },
         R"(
  "faults": {
    "StartTraceW": [183, 5],
    "ControlTraceW": 4294967295,
    "EnableTraceEx2": {
      "2": 5
    },
    "StopTraceW": 2,
    "OpenTraceW": 0,
    "ProcessTrace": 3,
    "GetSystemFirmwareTable": "grow",
    "interrupt": "Sleep"
  }
)"},
        // Ports in numeric order; a port says whether its request succeeds.
        {[](MachineSnapshot& m) {
             m.ScsiPorts[10] = {true, {0xAB}};
             m.ScsiPorts[2] = {};
         },
         R"(
    "2": {
      "answer": ""
    },
    "10": {
      "answer": "ab",
      "ioctlFails": true
    }
)"},
        {[](MachineSnapshot& m) {
             m.Devices["PCI\\B"] = {};
             m.Registry["k"] = {};
         },
         R"("PCI\\B": {})"},
        // Escapes as JSON needs them, other text as UTF-8, each invalid
        // sequence as U+FFFD.
        {[](MachineSnapshot& m) {
             m.Description = "caf\xE9 \xFF\xFE|\xE2\x82|\x01\t\"\\ \xC3\xA9 \xF0\x9F\x98\x80";
             m.Registry["k\xFF"]["v"].Text = "\xC3";
         },
         "\"description\": \"caf\uFFFD \uFFFD\uFFFD|\uFFFD|\\u0001\\t\\\"\\\\ \u00E9 \U0001F600\""},
    };
    MachineSnapshot snapshot = ParseSnapshotOrFail(FullSnapshot);
    for (const Case& c : cases) {
        c.change(snapshot);
        std::string written = WriteMachineSnapshot(snapshot);
        EXPECT_NE(written.find(c.written), std::string::npos) << c.written << "\nin:\n" << written;
        ExpectRoundTrip(snapshot, c.written);
    }
}

TEST(MachineSnapshot, RejectsWithThePathOfTheOffendingMember)
{
    struct Case {
        std::string json;
        std::string path;
        const char* messageStart;
    };
    // Deep enough that copying the path once per level shows: half a minute
    // for this one parse under the sanitizers.
    const int depth = 50000;
    std::string deep = R"({"format": "dormex-machine/1", "x": )";
    std::string deepPath = "$.x";
    for (int i = 0; i < depth; ++i) {
        deep += R"({"a": )";
        deepPath += ".a";
    }
    deep += R"({"b": 1, "b": 2})" + std::string(depth + 1, '}');
    const Case cases[] = {
        {R"({"format": "dormex-machine/2"})", "$.format", "expected"},
        {R"({"administrator": true})", "$", "missing member \"format\""},
        {R"({"format": "dormex-machine/1", "administrator": "yes"})", "$.administrator",
         "expected true or false"},
        {R"({"format": "dormex-machine/1", "firmwareTables": {"LPIT": "4c5"}})",
         "$.firmwareTables.LPIT", "bad hex"},
        {R"({"format": "dormex-machine/1", "firmwareTables": {"LPIT": "4g"}})",
         "$.firmwareTables.LPIT", "bad hex"},
        {R"({"format": "dormex-machine/1", "registry": {"a\\b": {"v": {"hex": "zz"}}}})",
         R"($.registry["a\\b"].v.hex)", "bad hex"},
        {R"({"format": "dormex-machine/1", "registry": {"a\\b": {"v": 1.5}}})",
         R"($.registry["a\\b"].v)", "expected a string, an integer"},
        {R"({"format": "dormex-machine/1", "events": [{"provider": "p", "id": 2, "properties": [], "opcod": 1}]})",
         "$.events[0].opcod", "unknown member"},
        {R"({"format": "dormex-machine/1", "events": [{"provider": "p", "id": 70000, "properties": []}]})",
         "$.events[0].id", "integer out of range"},
        {R"({"format": "dormex-machine/1", "events": [{"provider": "p", "id": 2, "properties": [["a"]]}]})",
         "$.events[0].properties[0]", "expected a pair"},
        {R"({"format": "dormex-machine/1", "devices": {"X": {"FriendlyNam": "x"}}})",
         "$.devices.X.FriendlyNam", "unknown member"},
        {R"({"format": "dormex-machine/1", "scsiPorts": {"zero": {}}})", "$.scsiPorts.zero",
         "a port number"},
        {R"({"format": "dormex-machine/1", "faults": {"StartTrace": 5}})", "$.faults.StartTrace",
         "unknown member"},
        {R"({"format": "dormex-machine/1", "faults": {"interrupt": "StopTraceW"}})",
         "$.faults.interrupt",
         "expected the name of a call a run can be interrupted in: RegGetValueA, Sleep, "
         "ProcessTrace, GetSystemFirmwareTable, CM_Locate_DevNodeW"},
        {R"({"format": "dormex-machine/1", "powerCapabilities": {"bytes": "00"}})",
         "$.powerCapabilities.bytes", "expected 76 bytes"},
        {R"({"format": "dormex-machine/1",)", "$", "not valid JSON"},
        {R"([1, 2])", "$", "expected an object"},
        // Hostile snapshots: no exception escapes, no member silently wins.
        {R"({"format": "dormex-machine/1", "events": [{"id": 1e400}]})", "$.events[0].id",
         "not valid JSON: [json.exception.out_of_range.406] number overflow"},
        {R"({"format": "dormex-machine/1", "administrator": true, "administrator": false})",
         "$.administrator", "a member named twice"},
        {R"({"format": "dormex-machine/2", "format": "dormex-machine/1"})", "$.format",
         "a member named twice"},
        {R"({"format": "dormex-machine/1", "registry": {"a\\b": {}, "A\\B\\": {}}})",
         "$.registry[\"a\\\\b\"]", "the same key as another"},
        {R"({"format": "dormex-machine/1", "registry": {"k": {"Name": 1, "NAME": 2}}})",
         "$.registry.k.Name", "the same value name as another"},
        {R"({"format": "dormex-machine/1", "devices": {"PCI\\A": {}, "pci\\a": {}}})",
         "$.devices[\"pci\\\\a\"]", "the same instance id as another"},
        {deep, deepPath + ".b", "a member named twice"},
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

TEST(ReplayRegistry, AnswersAsRegGetValueA)
{
    test::TestFileSystem files;
    test::StringConsole console;
    ReplayMachine machine(ParseSnapshotOrFail(FullSnapshot), files);
    Registry& registry = machine.PlatformWith(console).registry;
    const std::string processor = "HARDWARE\\Description\\System\\CentralProcessor\\0\\";

    uint32_t size = 0;
    EXPECT_EQ(registry.GetValue(processor, "IDENTIFIER", RegistryTypeSz, nullptr, &size), 0u);
    EXPECT_EQ(size, 34u);  // the text and its terminator

    char small[4] = {};
    uint32_t smallSize = sizeof small;
    EXPECT_EQ(registry.GetValue(processor, "Identifier", RegistryTypeSz, small, &smallSize), 234u);
    EXPECT_EQ(smallSize, 34u);

    std::vector<char> text(size);
    EXPECT_EQ(registry.GetValue(processor, "Identifier", RegistryTypeSz, text.data(), &size), 0u);
    EXPECT_STREQ(text.data(), "x64 Family 6 Model 140 Stepping 1");

    const std::string wdf =
        "system\\CurrentControlSet\\Enum\\PCI\\VEN_1234&DEV_0001\\Device Parameters\\WDF";
    uint32_t dword = 0;
    uint32_t dwordSize = sizeof dword;
    EXPECT_EQ(registry.GetValue(wdf, "IdleInWorkingState", RegistryTypeDword, &dword, &dwordSize),
              0u);
    EXPECT_EQ(dword, 1u);

    uint32_t unused = 0;
    EXPECT_EQ(registry.GetValue(wdf, "IdleInWorkingState", RegistryTypeSz, nullptr, &unused),
              1630u);
    EXPECT_EQ(registry.GetValue(wdf, "Missing", RegistryTypeDword, nullptr, &unused), 2u);
    EXPECT_EQ(registry.GetValue("software\\none", "x", RegistryTypeSz, nullptr, &unused), 2u);
    EXPECT_EQ(unused, 0u);
}

// An empty byte string is served as nothing (the sanitizer build catches a
// copy from the null data of an empty vector).
TEST(ReplayMachine, EmptyByteStringsAreServedAsNothing)
{
    test::TestFileSystem files;
    test::StringConsole console;
    ReplayMachine machine(ParseSnapshotOrFail(R"({"format": "dormex-machine/1",
      "registry": {"k": {"b": {"hex": ""}}},
      "devices": {"PCI\\A": {"PowerData": {"hex": ""}}},
      "scsiPorts": {"0": {"answer": ""}}})"),
                          files);
    Platform platform = machine.PlatformWith(console);
    uint8_t byte = 7;
    uint32_t size = 1;
    EXPECT_EQ(platform.registry.GetValue("k", "b", RegistryTypeBinary, &byte, &size), 0u);
    EXPECT_EQ(size, 0u);

    DevInst device = 0;
    ASSERT_EQ(platform.deviceManager.LocateDevNode(&device, u"PCI\\A", LocateDevNodeNormal), 0u);
    uint32_t type = 0;
    size = 1;
    const DevPropKey powerData = {
        {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 32};
    EXPECT_EQ(platform.deviceManager.GetDevNodeProperty(device, powerData, &type, &byte, &size, 0),
              0u);
    EXPECT_EQ(size, 0u);

    FileHandle port =
        platform.deviceIo.CreateFileW(u"\\\\.\\Scsi0:", GenericReadWrite, 0, OpenExisting, 0);
    ASSERT_NE(port, InvalidFileHandle);
    uint32_t returned = 0;
    EXPECT_TRUE(
        platform.deviceIo.DeviceIoControl(port, IoctlScsiMiniport, &byte, 1, &byte, 1, &returned));
    EXPECT_EQ(byte, 7);
    platform.deviceIo.CloseHandle(port);
}

TEST(ReplayPowerInformation, StatusOrBytesOrTheAoAcBit)
{
    struct Case {
        std::string power;  // <set> and <clear>: all 76 bytes, byte 20 set or not
        int32_t status;
        uint8_t aoac;
    };
    const Case cases[] = {
        {R"({"AoAc": true})", 0, 1},
        {R"({"AoAc": false})", 0, 0},
        {R"({"status": -1073741823})", -1073741823, 0xEE},
        {R"({"bytes": "<set>"})", 0, 1},
        {R"({"bytes": "<clear>"})", 0, 0},
        // "AoAc" beside "bytes" wins.
        {R"({"bytes": "<set>", "AoAc": false})", 0, 0},
        {R"({"AoAc": true, "bytes": "<clear>"})", 0, 1},
    };
    for (const Case& c : cases) {
        std::string power = c.power;
        for (const auto& [name, byte] : {std::pair{"<set>", "01"}, std::pair{"<clear>", "00"}}) {
            if (size_t at = power.find(name); at != std::string::npos) {
                power.replace(at, std::string(name).size(),
                              std::string(40, '0') + byte + std::string(110, '0'));
            }
        }
        test::TestFileSystem files;
        test::StringConsole console;
        ReplayMachine machine(ParseSnapshotOrFail(R"({"format": "dormex-machine/1", )"
                                                  R"("powerCapabilities": )" +
                                                  power + "}"),
                              files);
        uint8_t capabilities[76];
        std::memset(capabilities, 0xEE, sizeof capabilities);
        EXPECT_EQ(machine.PlatformWith(console).power.CallNtPowerInformation(
                      SystemPowerCapabilities, nullptr, 0, capabilities, sizeof capabilities),
                  c.status)
            << power;
        EXPECT_EQ(capabilities[20], c.aoac) << power;
    }
}

}  // namespace
}  // namespace dormex
