#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace dormex {

// An event's decoded properties, pairs of name and value text in decoding
// order. A trace has many events with a few short properties each, so their
// texts are kept back to back in one string, each after its length.
class SnapshotEventProperties {
public:
    using Property = std::pair<std::string_view, std::string_view>;
    class Iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = Property;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = Property;
        Iterator(std::string_view text, size_t at) : text_(text), at_(at) { Read(); }
        Property operator*() const { return property_; }
        Iterator& operator++()
        {
            at_ = next_;
            Read();
            return *this;
        }
        bool operator==(const Iterator& other) const { return at_ == other.at_; }

    private:
        // Reads the property at at_, if there is one.
        void Read();

        std::string_view text_;
        size_t at_;  // where the property's name begins, with its length
        size_t next_ = 0;
        Property property_;
    };

    void Add(std::string_view name, std::string_view value);
    // The same for UTF-16 texts, converted to UTF-8 as they are added.
    void Add(std::u16string_view name, std::u16string_view value);
    // Room for `count` properties whose texts take `textSize` bytes in all.
    void Reserve(size_t count, size_t textSize = 0) { text_.reserve(textSize + 2 * count); }
    // Gives back the room that adding properties one by one left over.
    void ShrinkToFit() { text_.shrink_to_fit(); }
    void Clear() { text_.clear(); }
    size_t size() const { return static_cast<size_t>(std::distance(begin(), end())); }
    bool empty() const { return text_.empty(); }
    Iterator begin() const { return {text_, 0}; }
    Iterator end() const { return {text_, text_.size()}; }

private:
    // Each name, then each value: its length, then itself.
    std::string text_;
};

// A device property's value as the snapshot files it: a text, a list of
// texts, an integer or bytes (DEVPROP_TYPE_STRING, _STRING_LIST, _INT32 and
// anything else).
using SnapshotDeviceValue =
    std::variant<std::string, std::vector<std::string>, int32_t, std::vector<uint8_t>>;

// A device property's value read in place: its texts and bytes point into
// the device, and last as long as it is not changed.
using SnapshotDeviceValueView = std::variant<std::string_view, std::span<const std::string_view>,
                                             int32_t, std::span<const uint8_t>>;

// The value a view shows, as a copy of its own.
SnapshotDeviceValue ValueOfView(const SnapshotDeviceValueView& view);

// One device's property values by field name. The names are those of
// DevicePropertyKeys. A machine has many devices with a dozen values each, so
// a device keeps them encoded back to back in one string, in the order they
// were set; they are visited in name order.
class SnapshotDeviceProperties {
public:
    // Sets the value of the property at `key` in DevicePropertyKeys (see
    // DevicePropertyIndex); false when there is none.
    bool Set(size_t key, const SnapshotDeviceValue& value);
    // The same for a text, or a list of texts each ended by a zero unit,
    // given as UTF-16LE bytes and converted to UTF-8 as it is set.
    bool SetWideText(size_t key, std::span<const uint8_t> utf16le);
    bool SetWideList(size_t key, std::span<const uint8_t> utf16le);
    std::optional<SnapshotDeviceValue> Find(size_t key) const;
    // Gives back the room that setting values one by one left over: a
    // machine has many devices, and growing each by doubling leaves a third
    // of their room unused.
    void ShrinkToFit() { data_.shrink_to_fit(); }
    // Calls `visit(name, value)` for each value, in name order, with a view
    // of the value that lasts until the next call.
    template <typename Visit>
    void ForEach(Visit visit) const
    {
        std::vector<std::string_view> entries;
        const NameOrder order = InNameOrder();
        for (size_t i = 0; i < order.Count; ++i) {
            visit(NameAt(order.Starts[i]), ViewAt(order.Starts[i], entries));
        }
    }

private:
    static constexpr size_t MaxKeys = 32;
    struct NameOrder {
        uint32_t Starts[MaxKeys]{};
        size_t Count = 0;
    };

    // Drops the value at `key`, if there is one, and begins its new one with
    // its key and `kind`; false when there is no such key.
    bool BeginValue(size_t key, uint8_t kind);
    size_t EntryEnd(size_t at) const;
    std::string_view NameAt(size_t at) const;
    // The value at `at`; a list's entries go into `entries`.
    SnapshotDeviceValueView ViewAt(size_t at, std::vector<std::string_view>& entries) const;
    // Where each value starts, in name order.
    NameOrder InNameOrder() const;

    // Each value: the index of its name in DevicePropertyKeys, the index of
    // its kind in SnapshotDeviceValue, then a number as 4 bytes, a text or
    // bytes as their length and themselves, a list as its count and each
    // text so. A length or a count is one byte below 255, else 255 and 4
    // bytes.
    std::string data_;
    uint32_t keys_ = 0;  // a bit for each key that has a value, by its index
};

}  // namespace dormex
