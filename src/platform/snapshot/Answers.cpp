#include "platform/snapshot/Answers.h"

#include <algorithm>

#include "common/Bytes.h"
#include "common/Text.h"
#include "platform/DevicePropertyKeys.h"
#include "platform/Registry.h"
#include "platform/TraceProviders.h"

namespace dormex {

namespace {

// Wide text as a service returns it: the whole units of the buffer but its
// terminator, so that a zero unit inside the text is kept.
std::span<const uint8_t> WideText(std::span<const uint8_t> bytes)
{
    size_t units = bytes.size() / 2;
    if (units > 0 && ReadU16(bytes, 2 * (units - 1)) == 0) {
        --units;
    }
    return bytes.first(2 * units);
}

}  // namespace

RegistryAnswer RegistryAnswerOf(const SnapshotRegistryValue& value)
{
    switch (value.ValueType) {
    case SnapshotRegistryValue::Type::Sz: {
        std::vector<uint8_t> data(value.Text.begin(), value.Text.end());
        data.push_back(0);
        return {RegistryTypeSz, std::move(data)};
    }
    case SnapshotRegistryValue::Type::Dword: {
        std::array<uint8_t, 4> bytes = U32Bytes(value.Dword);
        return {RegistryTypeDword, {bytes.begin(), bytes.end()}};
    }
    case SnapshotRegistryValue::Type::Binary:
        return {RegistryTypeBinary, value.Bytes};
    }
    return {};
}

SnapshotRegistryValue RegistryValueOf(uint32_t flags, std::span<const uint8_t> data)
{
    SnapshotRegistryValue value;
    if (flags == RegistryTypeSz) {
        value.Text.assign(data.begin(), data.end());
        if (!value.Text.empty() && value.Text.back() == '\0') {
            value.Text.pop_back();
        }
    } else if (flags == RegistryTypeDword && data.size() == 4) {
        value.ValueType = SnapshotRegistryValue::Type::Dword;
        value.Dword = ReadU32(data, 0);
    } else {
        value.ValueType = SnapshotRegistryValue::Type::Binary;
        value.Bytes.assign(data.begin(), data.end());
    }
    return value;
}

SnapshotRegistryValue RegistryValueOutside(uint32_t flags)
{
    SnapshotRegistryValue value;
    value.ValueType = (flags & RegistryTypeBinary) == 0 ? SnapshotRegistryValue::Type::Binary
                                                        : SnapshotRegistryValue::Type::Sz;
    return value;
}

void WritePowerCapabilities(const MachineSnapshot& snapshot, std::span<uint8_t> output)
{
    const auto& capabilities = snapshot.PowerCapabilities;
    std::copy_n(capabilities.begin(), std::min(output.size(), capabilities.size()), output.begin());
}

void ReadPowerCapabilities(std::span<const uint8_t> output, MachineSnapshot& snapshot)
{
    auto& capabilities = snapshot.PowerCapabilities;
    capabilities.fill(0);
    std::copy_n(output.begin(), std::min(output.size(), capabilities.size()), capabilities.begin());
}

DevicePropertyAnswer DevicePropertyAnswerOf(const SnapshotDeviceValue& value)
{
    if (const auto* text = std::get_if<std::string>(&value)) {
        return {DevPropTypeString, WideTextBytes(*text)};
    }
    if (const auto* list = std::get_if<std::vector<std::string>>(&value)) {
        std::vector<uint8_t> bytes;
        for (const std::string& entry : *list) {
            std::vector<uint8_t> wide = WideTextBytes(entry);
            bytes.insert(bytes.end(), wide.begin(), wide.end());
        }
        bytes.push_back(0);
        bytes.push_back(0);
        return {DevPropTypeStringList, std::move(bytes)};
    }
    if (const auto* number = std::get_if<int32_t>(&value)) {
        std::array<uint8_t, 4> bytes = U32Bytes(static_cast<uint32_t>(*number));
        return {DevPropTypeInt32, {bytes.begin(), bytes.end()}};
    }
    return {DevPropTypeBinary, std::get<std::vector<uint8_t>>(value)};
}

bool SetDeviceValueOf(SnapshotDeviceProperties& device, size_t key, uint32_t type,
                      std::span<const uint8_t> bytes)
{
    if (type == DevPropTypeString) {
        return device.SetWideText(key, WideText(bytes));
    }
    if (type == DevPropTypeStringList) {
        return device.SetWideList(key, WideText(bytes));
    }
    if ((type == DevPropTypeInt32 || type == DevPropTypeUInt32) && bytes.size() == 4) {
        return device.Set(key, static_cast<int32_t>(ReadU32(bytes, 0)));
    }
    return device.Set(key, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::string FirmwareTableSignature(uint32_t tableId)
{
    std::array<uint8_t, 4> id = U32Bytes(tableId);
    return std::string(id.begin(), id.end());
}

EventRecord EventRecordOf(const SnapshotEvent& event)
{
    EventRecord record;
    record.ProviderId = event.Provider;
    record.Id = event.Id;
    record.Opcode = event.Opcode;
    record.Flags = event.PointerSize == 4 ? EventHeaderFlag32BitHeader : 0;
    return record;
}

SnapshotEvent SnapshotEventOf(const EventRecord& record)
{
    SnapshotEvent event;
    event.Provider = record.ProviderId;
    event.Id = record.Id;
    event.Opcode = record.Opcode;
    event.PointerSize = (record.Flags & EventHeaderFlag32BitHeader) != 0 ? 4 : 8;
    return event;
}

std::vector<uint8_t> WideTextBytes(std::string_view utf8)
{
    return EncodeUtf16Le(Utf8ToUtf16(utf8) + u'\0');
}

std::u16string_view TextOfWide(std::u16string_view formatted)
{
    const std::span<const uint8_t> bytes(
        static_cast<const uint8_t*>(static_cast<const void*>(formatted.data())),
        formatted.size() * sizeof(char16_t));
    return formatted.substr(0, UnitsBeforeZero(bytes));
}

std::vector<uint32_t> StartTraceFaultsOf(std::vector<uint32_t> statuses)
{
    while (!statuses.empty() && statuses.back() == 0) {
        statuses.pop_back();
    }
    return statuses;
}

std::optional<uint32_t> StartTraceFault(const SnapshotFaults& faults, size_t call)
{
    const std::vector<uint32_t>& statuses = faults.StartTraceW;
    if (call < statuses.size()) {
        return statuses[call];
    }
    if (faults.StartTraceWAlways && !statuses.empty()) {
        return statuses.back();
    }
    return std::nullopt;
}

}  // namespace dormex
