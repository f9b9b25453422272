#include <optional>
#include <span>

#include <gtest/gtest.h>

#include "common/Text.h"
#include "platform/DevicePropertyKeys.h"
#include "platform/Registry.h"
#include "platform/TraceProviders.h"
#include "platform/snapshot/Answers.h"

namespace dormex {
namespace {

// The value a device property answer of `type` and `bytes` sets.
std::optional<SnapshotDeviceValue> DeviceValueOf(uint32_t type, std::span<const uint8_t> bytes)
{
    SnapshotDeviceProperties device;
    SetDeviceValueOf(device, 0, type, bytes);
    return device.Find(0);
}

SnapshotRegistryValue Sz(std::string text)
{
    SnapshotRegistryValue value;
    value.Text = std::move(text);
    return value;
}

TEST(SnapshotAnswers, RegistryValuesReadBackAsTheyWereAnswered)
{
    SnapshotRegistryValue dword;
    dword.ValueType = SnapshotRegistryValue::Type::Dword;
    dword.Dword = 0xA1B2C3D4;
    SnapshotRegistryValue binary;
    binary.ValueType = SnapshotRegistryValue::Type::Binary;
    binary.Bytes = {0, 1, 0xFF};
    for (const SnapshotRegistryValue& value : {Sz("Fabrikam BIOS 1.0"), Sz(""), dword, binary}) {
        RegistryAnswer answer = RegistryAnswerOf(value);
        SnapshotRegistryValue back = RegistryValueOf(answer.TypeFlag, answer.Data);
        EXPECT_EQ(back.ValueType, value.ValueType);
        EXPECT_EQ(back.Text, value.Text);
        EXPECT_EQ(back.Dword, value.Dword);
        EXPECT_EQ(back.Bytes, value.Bytes);
    }
    // A value outside the asked types answers ERROR_UNSUPPORTED_TYPE again.
    for (uint32_t flags : {RegistryTypeSz, RegistryTypeBinary, RegistryTypeDword}) {
        EXPECT_EQ(RegistryAnswerOf(RegistryValueOutside(flags)).TypeFlag & flags, 0u) << flags;
    }
}

TEST(SnapshotAnswers, DevicePropertiesReadBackAsTheyWereAnswered)
{
    // Lists of 255 entries or more, and texts of 255 units or more, take
    // more room for their count and length.
    std::vector<std::string> many(300, "x");
    many[7] = std::string(300, 'y');
    const std::vector<SnapshotDeviceValue> values = {
        std::string("Contoso NVMe \xC3\xA9"),
        std::vector<std::string>{"PCI\\VEN_1234&DEV_0001", "PCI\\VEN_1234"}, many, int32_t{-2},
        std::vector<uint8_t>{1, 2, 3}};
    for (const SnapshotDeviceValue& value : values) {
        DevicePropertyAnswer answer = DevicePropertyAnswerOf(value);
        EXPECT_EQ(DeviceValueOf(answer.Type, answer.Bytes), value);
    }
    // A list ends at its last unit whether or not it ends with a zero; an
    // entry between two zeros is empty, and an odd last byte is no unit.
    const std::pair<std::u16string, std::vector<std::string>> lists[] = {
        {std::u16string(u"a\0\0b\0\0", 6), {"a", "", "b"}},
        {u"ab", {"ab"}},
        {std::u16string(u"\0\0", 2), {""}},
        {std::u16string(u"\0", 1), {}},
    };
    for (const auto& [units, entries] : lists) {
        std::vector<uint8_t> bytes = EncodeUtf16Le(units);
        EXPECT_EQ(DeviceValueOf(DevPropTypeStringList, bytes), SnapshotDeviceValue(entries));
        bytes.push_back(0x41);
        EXPECT_EQ(DeviceValueOf(DevPropTypeStringList, bytes), SnapshotDeviceValue(entries));
    }
    // A UINT32 reads as a number; a string keeps a zero unit inside it.
    EXPECT_EQ(DeviceValueOf(DevPropTypeUInt32, std::vector<uint8_t>{7, 0, 0, 0}),
              SnapshotDeviceValue(int32_t{7}));
    const std::vector<uint8_t> inner = EncodeUtf16Le(std::u16string(u"a\0b\0", 4));
    EXPECT_EQ(DeviceValueOf(DevPropTypeString, inner), SnapshotDeviceValue(std::string("a\0b", 3)));
}

TEST(SnapshotAnswers, EventsAndTheirTextReadBackAsTheyWereDelivered)
{
    for (uint32_t pointerSize : {4u, 8u}) {
        SnapshotEvent event;
        event.Provider = KernelPowerProvider;
        event.Id = 1001;
        event.Opcode = 12;
        event.PointerSize = pointerSize;
        SnapshotEvent back = SnapshotEventOf(EventRecordOf(event));
        EXPECT_EQ(back.Provider, event.Provider);
        EXPECT_EQ(back.Id, event.Id);
        EXPECT_EQ(back.Opcode, event.Opcode);
        EXPECT_EQ(back.PointerSize, pointerSize);
    }
    std::u16string formatted = DecodeUtf16Le(WideTextBytes("\\_SB.PC00.XHC0"));
    EXPECT_EQ(TextOfWide(formatted + std::u16string(u"junk", 4)), u"\\_SB.PC00.XHC0");
    // The first zero unit ends the text, wherever it is among the units
    // looked at together (eight, then four), next to units with a zero byte
    // or the high bit.
    const std::u16string units = {0x0100, 0x8000, 0xFF00, 0x0001, u'a',   0x8001, 0x00FF,
                                  u'b',   u'c',   0x0200, u'd',   0x0080, u'e'};
    for (size_t at = 0; at <= units.size(); ++at) {
        const std::u16string text = std::u16string(units).insert(at, 1, u'\0');
        EXPECT_EQ(TextOfWide(text), units.substr(0, at)) << at;
    }
    EXPECT_EQ(TextOfWide(units), units);
    EXPECT_EQ(FirmwareTableSignature(0x5449504C), "LPIT");

    MachineSnapshot machine;
    machine.PowerCapabilities[0] = 1;
    machine.PowerCapabilities.back() = 0x80;
    std::vector<uint8_t> structure(machine.PowerCapabilities.size() + 4, 0xEE);
    WritePowerCapabilities(machine, structure);
    MachineSnapshot back;
    ReadPowerCapabilities(structure, back);
    EXPECT_EQ(back.PowerCapabilities, machine.PowerCapabilities);
}

TEST(SnapshotAnswers, StartTraceStatusesReplayInTheirOrder)
{
    const std::vector<std::vector<uint32_t>> runs = {{},        {0},       {183, 0},
                                                     {5, 0, 0}, {0, 1450}, {183, 183, 0}};
    for (const auto& statuses : runs) {
        SnapshotFaults faults;
        faults.StartTraceW = StartTraceFaultsOf(statuses);
        for (size_t call = 0; call < statuses.size() + 2; ++call) {
            uint32_t expected = call < statuses.size() ? statuses[call] : 0;
            EXPECT_EQ(StartTraceFault(faults, call).value_or(0), expected) << call;
        }
    }
    SnapshotFaults always;
    always.StartTraceW = {5};
    always.StartTraceWAlways = true;
    EXPECT_EQ(StartTraceFault(always, 3), 5u);
}

}  // namespace
}  // namespace dormex
