#include "platform/snapshot/SnapshotValues.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <variant>

#include "common/Bytes.h"
#include "common/Text.h"
#include "platform/DevicePropertyKeys.h"

namespace dormex {

// The encoded forms hold lengths in at most 32 bits: snapshots are read only
// up to 256 MiB, and the platform answers a device property or an event
// property in at most a few megabytes.
static_assert(DevicePropertyKeys.size() < 256, "a device value's key is one byte");

namespace {

// Numbers in the encoded forms, which stay in memory: four bytes in the
// machine's own order.
void AppendU32(std::string& data, size_t value)
{
    const auto number = static_cast<uint32_t>(value);
    data.append(reinterpret_cast<const char*>(&number), sizeof number);
}

// The number at `at`; 0 for one that the data cuts short, which the encoding
// never does.
uint32_t U32At(std::string_view data, size_t at)
{
    uint32_t number = 0;
    if (at <= data.size() && data.size() - at >= sizeof number) {
        std::memcpy(&number, data.data() + at, sizeof number);
    }
    return number;
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

// Lengths and counts, which are mostly short: one byte below 255, else 255
// and four bytes.
constexpr uint8_t LongLength = 0xFF;

void AppendLength(std::string& data, size_t length)
{
    if (length < LongLength) {
        data += static_cast<char>(length);
    } else {
        data += static_cast<char>(LongLength);
        AppendU32(data, length);
    }
}

// The length at `at`, stepping `at` past it.
size_t LengthAt(std::string_view data, size_t& at)
{
    const uint8_t first = at < data.size() ? static_cast<uint8_t>(data[at]) : 0;
    if (first < LongLength) {
        at += 1;
        return first;
    }
    at += 5;
    return U32At(data, at - 4);
}

void AppendText(std::string& data, std::string_view text)
{
    AppendLength(data, text.size());
    data.append(text);
}

// Sets the length or count at `at`, a byte kept for it, to `length`.
void PutLength(std::string& data, size_t at, size_t length)
{
    if (length < LongLength) [[likely]] {
        data[at] = static_cast<char>(length);
        return;
    }
    std::string longLength;
    AppendLength(longLength, length);
    data.replace(at, 1, longLength);
}

// UTF-16 text, as units or as UTF-16LE bytes, converted to UTF-8 after its
// length: converted first, so a long text makes room for its longer length
// after.
template <typename Wide>
void AppendWideText(std::string& data, const Wide& text)
{
    const size_t at = data.size();
    data += '\0';
    if constexpr (std::is_same_v<Wide, std::u16string_view>) {
        AppendUtf8(data, text);
    } else {
        AppendUtf8OfUtf16Le(data, text);
    }
    PutLength(data, at, data.size() - at - 1);
}

// The text at `at`, after its length, and where the next one begins.
std::string_view TextAt(std::string_view data, size_t& at)
{
    const size_t size = LengthAt(data, at);
    const std::string_view text = data.substr(std::min(at, data.size()), size);
    at += size;
    return text;
}

// A value after its key and kind.
void AppendDeviceValue(std::string& data, const SnapshotDeviceValue& value)
{
    if (const auto* text = std::get_if<std::string>(&value)) {
        AppendText(data, *text);
    } else if (const auto* list = std::get_if<std::vector<std::string>>(&value)) {
        AppendLength(data, list->size());
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

void SnapshotEventProperties::Add(std::string_view name, std::string_view value)
{
    AppendText(text_, name);
    AppendText(text_, value);
}

void SnapshotEventProperties::Add(std::u16string_view name, std::u16string_view value)
{
    AppendWideText(text_, name);
    AppendWideText(text_, value);
}

void SnapshotEventProperties::Iterator::Read()
{
    if (at_ < text_.size()) {
        next_ = at_;
        property_.first = TextAt(text_, next_);
        property_.second = TextAt(text_, next_);
    }
}

size_t SnapshotDeviceProperties::EntryEnd(size_t at) const
{
    const auto kind = static_cast<uint8_t>(data_[at + 1]);
    size_t end = at + 2;
    if (kind == NumberKind) {
        return end + 4;
    }
    const size_t texts = kind == ListKind ? LengthAt(data_, end) : 1;
    for (size_t i = 0; i < texts; ++i) {
        const size_t size = LengthAt(data_, end);
        end += size;
    }
    return end;
}

std::string_view SnapshotDeviceProperties::NameAt(size_t at) const
{
    return DevicePropertyKeys[static_cast<uint8_t>(data_[at])].Name;
}

SnapshotDeviceValueView SnapshotDeviceProperties::ViewAt(
    size_t at, std::vector<std::string_view>& entries) const
{
    const std::string_view data = data_;
    size_t position = at + 2;
    switch (static_cast<uint8_t>(data[at + 1])) {
    case TextKind:
        return TextAt(data, position);
    case ListKind:
        entries.resize(LengthAt(data, position));
        for (std::string_view& entry : entries) {
            entry = TextAt(data, position);
        }
        return std::span<const std::string_view>(entries);
    case NumberKind:
        return static_cast<int32_t>(U32At(data, position));
    default:
        break;
    }
    const std::string_view bytes = TextAt(data, position);
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

SnapshotDeviceValue ValueOfView(const SnapshotDeviceValueView& view)
{
    return std::visit(
        [](const auto& value) -> SnapshotDeviceValue {
            using View = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<View, std::string_view>) {
                return std::string(value);
            } else if constexpr (std::is_same_v<View, std::span<const std::string_view>>) {
                return std::vector<std::string>(value.begin(), value.end());
            } else if constexpr (std::is_same_v<View, int32_t>) {
                return value;
            } else {
                return std::vector<uint8_t>(value.begin(), value.end());
            }
        },
        view);
}

SnapshotDeviceProperties::NameOrder SnapshotDeviceProperties::InNameOrder() const
{
    NameOrder order;
    for (size_t at = 0; at < data_.size(); at = EntryEnd(at)) {
        // Few values, nearly in order: an insertion sort.
        size_t i = order.Count++;
        const uint8_t rank = NameRanks[static_cast<uint8_t>(data_[at])];
        for (; i > 0 && NameRanks[static_cast<uint8_t>(data_[order.Starts[i - 1]])] > rank; --i) {
            order.Starts[i] = order.Starts[i - 1];
        }
        order.Starts[i] = static_cast<uint32_t>(at);
    }
    return order;
}

bool SnapshotDeviceProperties::BeginValue(size_t key, uint8_t kind)
{
    static_assert(DevicePropertyKeys.size() <= MaxKeys, "a device's keys fit its mask");
    if (key >= DevicePropertyKeys.size()) {
        return false;
    }
    const uint32_t bit = uint32_t{1} << key;
    if ((keys_ & bit) != 0) {
        size_t at = 0;
        while (static_cast<uint8_t>(data_[at]) != key) {
            at = EntryEnd(at);
        }
        data_.erase(at, EntryEnd(at) - at);
    }
    keys_ |= bit;
    const char head[] = {static_cast<char>(key), static_cast<char>(kind)};
    data_.append(head, sizeof head);
    return true;
}

bool SnapshotDeviceProperties::Set(size_t key, const SnapshotDeviceValue& value)
{
    if (!BeginValue(key, static_cast<uint8_t>(value.index()))) {
        return false;
    }
    AppendDeviceValue(data_, value);
    return true;
}

bool SnapshotDeviceProperties::SetWideText(size_t key, std::span<const uint8_t> utf16le)
{
    if (!BeginValue(key, TextKind)) {
        return false;
    }
    AppendWideText(data_, utf16le);
    return true;
}

bool SnapshotDeviceProperties::SetWideList(size_t key, std::span<const uint8_t> utf16le)
{
    if (!BeginValue(key, ListKind)) {
        return false;
    }
    // The count goes before the texts: counted as they are added.
    const size_t countAt = data_.size();
    data_ += '\0';
    size_t count = 0;
    const size_t units = utf16le.size() / 2;
    for (size_t start = 0; start < units; ++count) {
        const size_t length = UnitsBeforeZero(utf16le.subspan(2 * start));
        AppendWideText(data_, utf16le.subspan(2 * start, 2 * length));
        start += length + 1;
    }
    PutLength(data_, countAt, count);
    return true;
}

std::optional<SnapshotDeviceValue> SnapshotDeviceProperties::Find(size_t key) const
{
    if (key >= DevicePropertyKeys.size() || (keys_ & uint32_t{1} << key) == 0) {
        return std::nullopt;
    }
    size_t at = 0;
    while (static_cast<uint8_t>(data_[at]) != key) {
        at = EntryEnd(at);
    }
    std::vector<std::string_view> entries;
    return ValueOfView(ViewAt(at, entries));
}

}  // namespace dormex
