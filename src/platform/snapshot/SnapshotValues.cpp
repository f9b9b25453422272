#include "platform/snapshot/SnapshotValues.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <type_traits>
#include <variant>

#include "common/Bytes.h"
#include "platform/DevicePropertyKeys.h"

namespace dormex {

// The encoded forms hold sizes and offsets in 32 bits: snapshots are read
// only up to 256 MiB, and the platform answers a device property or an event
// property in at most a few megabytes.
static_assert(DevicePropertyKeys.size() < 256, "a device value's key is one byte");

void SnapshotEventProperties::Add(std::string_view name, std::string_view value)
{
    text_.append(name);
    ends_.push_back(static_cast<uint32_t>(text_.size()));
    text_.append(value);
    ends_.push_back(static_cast<uint32_t>(text_.size()));
}

SnapshotEventProperties::Property SnapshotEventProperties::operator[](size_t index) const
{
    const std::string_view text = text_;
    const size_t nameStart = index == 0 ? 0 : ends_[2 * index - 1];
    const size_t nameEnd = ends_[2 * index];
    return {text.substr(nameStart, nameEnd - nameStart),
            text.substr(nameEnd, ends_[2 * index + 1] - nameEnd)};
}

namespace {

void AppendU32(std::string& data, size_t value)
{
    const std::array<uint8_t, 4> bytes = U32Bytes(static_cast<uint32_t>(value));
    data.append(bytes.begin(), bytes.end());
}

uint32_t U32At(std::string_view data, size_t at)
{
    return ReadU32({reinterpret_cast<const uint8_t*>(data.data()), data.size()}, at);
}

// A value's kind is the index of its alternative in SnapshotDeviceValue.
enum DeviceValueKind : uint8_t { TextKind, ListKind, NumberKind, BytesKind };
static_assert(
    std::is_same_v<std::variant_alternative_t<TextKind, SnapshotDeviceValue>, std::string>);
static_assert(std::is_same_v<std::variant_alternative_t<ListKind, SnapshotDeviceValue>,
                             std::vector<std::string>>);
static_assert(std::is_same_v<std::variant_alternative_t<NumberKind, SnapshotDeviceValue>, int32_t>);
static_assert(std::is_same_v<std::variant_alternative_t<BytesKind, SnapshotDeviceValue>,
                             std::vector<uint8_t>>);

void AppendText(std::string& data, std::string_view text)
{
    AppendU32(data, text.size());
    data.append(text);
}

void AppendDeviceValue(std::string& data, uint8_t key, const SnapshotDeviceValue& value)
{
    data += static_cast<char>(key);
    data += static_cast<char>(value.index());
    if (const auto* text = std::get_if<std::string>(&value)) {
        AppendText(data, *text);
    } else if (const auto* list = std::get_if<std::vector<std::string>>(&value)) {
        AppendU32(data, list->size());
        for (const std::string& entry : *list) {
            AppendText(data, entry);
        }
    } else if (const auto* number = std::get_if<int32_t>(&value)) {
        AppendU32(data, static_cast<uint32_t>(*number));
    } else {
        const auto& bytes = std::get<std::vector<uint8_t>>(value);
        AppendText(data, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
    }
}

// Each device property's place in name order, by its index in
// DevicePropertyKeys.
constexpr std::array<uint8_t, DevicePropertyKeys.size()> NameRanks = [] {
    std::array<uint8_t, DevicePropertyKeys.size()> order{};
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = static_cast<uint8_t>(i);
    }
    std::sort(order.begin(), order.end(), [](uint8_t left, uint8_t right) {
        return DevicePropertyKeys[left].Name < DevicePropertyKeys[right].Name;
    });
    std::array<uint8_t, DevicePropertyKeys.size()> ranks{};
    for (size_t rank = 0; rank < order.size(); ++rank) {
        ranks[order[rank]] = static_cast<uint8_t>(rank);
    }
    return ranks;
}();

}  // namespace

size_t SnapshotDeviceProperties::EntryEnd(size_t at) const
{
    const auto kind = static_cast<uint8_t>(data_[at + 1]);
    size_t end = at + 2;
    if (kind == NumberKind) {
        return end + 4;
    }
    const size_t texts = kind == ListKind ? U32At(data_, end) : 1;
    end += kind == ListKind ? 4 : 0;
    for (size_t i = 0; i < texts; ++i) {
        end += 4 + U32At(data_, end);
    }
    return end;
}

std::string_view SnapshotDeviceProperties::NameAt(size_t at) const
{
    return DevicePropertyKeys[static_cast<uint8_t>(data_[at])].Name;
}

SnapshotDeviceValue SnapshotDeviceProperties::ValueAt(size_t at) const
{
    const std::string_view data = data_;
    auto textAt = [&](size_t& position) {
        const size_t size = U32At(data, position);
        std::string_view text = data.substr(position + 4, size);
        position += 4 + size;
        return text;
    };
    size_t position = at + 2;
    switch (static_cast<uint8_t>(data[at + 1])) {
    case TextKind:
        return std::string(textAt(position));
    case ListKind: {
        std::vector<std::string> list(U32At(data, position));
        position += 4;
        for (std::string& entry : list) {
            entry = textAt(position);
        }
        return list;
    }
    case NumberKind:
        return static_cast<int32_t>(U32At(data, position));
    default:
        break;
    }
    const std::string_view bytes = textAt(position);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

bool SnapshotDeviceProperties::Set(size_t key, const SnapshotDeviceValue& value)
{
    if (key >= DevicePropertyKeys.size()) {
        return false;
    }
    auto keyAt = [&](size_t at) { return static_cast<uint8_t>(data_[at]); };
    size_t at = 0;
    while (at < data_.size() && NameRanks[keyAt(at)] < NameRanks[key]) {
        at = EntryEnd(at);
    }
    if (at < data_.size() && keyAt(at) == key) {
        data_.erase(at, EntryEnd(at) - at);
    }
    // Written at the end, then turned into its place.
    const size_t tail = data_.size();
    AppendDeviceValue(data_, static_cast<uint8_t>(key), value);
    std::rotate(data_.begin() + static_cast<std::ptrdiff_t>(at),
                data_.begin() + static_cast<std::ptrdiff_t>(tail), data_.end());
    return true;
}

std::optional<SnapshotDeviceValue> SnapshotDeviceProperties::Find(size_t key) const
{
    for (size_t at = 0; at < data_.size(); at = EntryEnd(at)) {
        if (static_cast<uint8_t>(data_[at]) == key) {
            return ValueAt(at);
        }
    }
    return std::nullopt;
}

}  // namespace dormex
