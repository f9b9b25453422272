#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace dormex {

// An event's decoded properties, pairs of name and value text in decoding
// order. A trace has many events with a few short properties each, so their
// texts are kept back to back in one string.
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
        Iterator(const SnapshotEventProperties& properties, size_t index)
            : properties_(&properties), index_(index)
        {
        }
        Property operator*() const { return (*properties_)[index_]; }
        Iterator& operator++()
        {
            ++index_;
            return *this;
        }
        bool operator==(const Iterator& other) const { return index_ == other.index_; }

    private:
        const SnapshotEventProperties* properties_;
        size_t index_;
    };

    void Add(std::string_view name, std::string_view value);
    // Room for `count` properties whose texts take `textSize` bytes in all.
    void Reserve(size_t count, size_t textSize = 0)
    {
        ends_.reserve(2 * count);
        text_.reserve(textSize);
    }
    Property operator[](size_t index) const;
    size_t size() const { return ends_.size() / 2; }
    bool empty() const { return ends_.empty(); }
    Iterator begin() const { return {*this, 0}; }
    Iterator end() const { return {*this, size()}; }

private:
    std::string text_;
    std::vector<uint32_t> ends_;  // where each name, then each value, ends in text_
};

// A device property's value as the snapshot files it: a text, a list of
// texts, an integer or bytes (DEVPROP_TYPE_STRING, _STRING_LIST, _INT32 and
// anything else).
using SnapshotDeviceValue =
    std::variant<std::string, std::vector<std::string>, int32_t, std::vector<uint8_t>>;

// One device's property values by field name, in name order. The names are
// those of DevicePropertyKeys. A machine has many devices with a dozen values
// each, so a device keeps them encoded back to back in one string.
class SnapshotDeviceProperties {
public:
    // Sets the value of the property at `key` in DevicePropertyKeys (see
    // DevicePropertyIndex); false when there is none.
    bool Set(size_t key, const SnapshotDeviceValue& value);
    std::optional<SnapshotDeviceValue> Find(size_t key) const;
    // Calls `visit(name, value)` for each value, in name order.
    template <typename Visit>
    void ForEach(Visit visit) const
    {
        for (size_t at = 0; at < data_.size(); at = EntryEnd(at)) {
            visit(NameAt(at), ValueAt(at));
        }
    }
    // Gives back the room that setting values one by one left over.
    void ShrinkToFit() { data_.shrink_to_fit(); }

private:
    size_t EntryEnd(size_t at) const;
    std::string_view NameAt(size_t at) const;
    SnapshotDeviceValue ValueAt(size_t at) const;

    // Each value: the index of its name in DevicePropertyKeys, the index of
    // its kind in SnapshotDeviceValue, then a number as 4 bytes, a text or
    // bytes as their length (4 bytes) and themselves, a list as its count
    // (4 bytes) and each text so.
    std::string data_;
};

}  // namespace dormex
