#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/Guid.h"
#include "platform/PowerInformation.h"

namespace dormex {

inline constexpr std::string_view MachineSnapshotFormat = "dormex-machine/1";

struct SnapshotRegistryValue {
    enum class Type { Sz, Dword, Binary };
    Type ValueType = Type::Sz;
    std::string Text;            // REG_SZ, as UTF-8 bytes
    uint32_t Dword = 0;          // REG_DWORD
    std::vector<uint8_t> Bytes;  // REG_BINARY
};

// An event's decoded properties, pairs of name and value text in decoding
// order. A trace has many events with a few short properties each, so their
// texts are kept back to back in one string.
class SnapshotEventProperties {
public:
    using Property = std::pair<std::string_view, std::string_view>;
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
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

struct SnapshotEvent {
    Guid Provider{};  // filed by its name (ProviderName)
    uint16_t Id = 0;
    SnapshotEventProperties Properties;
    uint32_t DecodingSource = 0;
    uint8_t Opcode = 0;
    uint32_t PointerSize = 8;
    // The decoder cannot read the event's description: TdhGetEventInformation
    // fails with this status.
    std::optional<uint32_t> InformationFault;
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
    // Sets the value filed under `name`; false when no device property has
    // that name.
    bool Set(std::string_view name, const SnapshotDeviceValue& value);
    // The same for the property at `key` in DevicePropertyKeys.
    bool SetKey(size_t key, const SnapshotDeviceValue& value);
    std::optional<SnapshotDeviceValue> Find(std::string_view name) const;
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

struct SnapshotScsiPort {
    bool IoctlFails = false;
    std::vector<uint8_t> Answer;
};

// The calls during which a replay can have the user interrupt the run: the
// identification, the capture window, the reading of the trace, the LPIT and
// the device properties.
inline constexpr std::array<std::string_view, 5> InterruptibleCalls = {
    "RegGetValueA", "Sleep", "ProcessTrace", "GetSystemFirmwareTable", "CM_Locate_DevNodeW"};

// Platform calls that a replay makes fail, with their statuses.
struct SnapshotFaults {
    // The statuses of successive StartTraceW calls, the later calls succeeding;
    // with a single number every call fails with it.
    std::vector<uint32_t> StartTraceW;
    bool StartTraceWAlways = false;
    std::optional<uint32_t> ControlTraceW;
    std::map<uint32_t, uint32_t> EnableTraceEx2;  // call number from 1 -> status
    std::optional<uint32_t> StopTraceW;
    std::optional<uint32_t> OpenTraceW;  // the last-error code of the failed open
    std::optional<uint32_t> ProcessTrace;
    bool FirmwareTableGrows = false;  // GetSystemFirmwareTable: "grow"
    // Ctrl+C during the first call of this name (one of InterruptibleCalls).
    std::string Interrupt;
};

// Everything a run asks the operating system about one machine.
struct MachineSnapshot {
    std::string Description;
    bool Administrator = true;
    std::optional<int32_t> PowerStatus;
    std::array<uint8_t, SystemPowerCapabilitiesSize> PowerCapabilities{};
    // Key paths and value names lower-cased, without a trailing backslash.
    std::map<std::string, std::map<std::string, SnapshotRegistryValue>> Registry;
    std::deque<SnapshotEvent> Events;  // grown a block at a time, never moved
    // Instance id -> DeviceProperties field name -> value.
    std::map<std::string, SnapshotDeviceProperties> Devices;
    std::map<std::string, std::vector<uint8_t>> FirmwareTables;
    std::map<uint32_t, SnapshotScsiPort> ScsiPorts;
    SnapshotFaults Faults;
};

struct SnapshotError {
    std::string Path;     // JSON path of the offending member, "$" for the document
    std::string Message;  // what is wrong with it
};

// Parses and checks a snapshot strictly: unknown members, wrong types and
// bad hex are errors.
std::variant<MachineSnapshot, SnapshotError> ParseMachineSnapshot(std::string_view json);

// A snapshot file read and checked; the error text names the file and the
// JSON path of the offending member.
std::variant<MachineSnapshot, std::string> LoadMachineSnapshot(const std::string& path);

// The snapshot as a dormex-machine/1 document in canonical form: members in a
// fixed order, maps in the model's order, one layout. Parsing it gives an
// equal snapshot back when the snapshot is one the parser could have made
// (registry names lower-cased, ports within 224 bytes...); text that is not
// UTF-8 is written with U+FFFD in place of each invalid sequence.
std::string WriteMachineSnapshot(const MachineSnapshot& snapshot);
// The same document, written into `out` a piece at a time.
void WriteMachineSnapshot(const MachineSnapshot& snapshot, std::ostream& out);

// A registry key path as keys are compared: ASCII letters lower-cased,
// trailing backslashes dropped. Value names compare lower-cased.
std::string RegistryKeyLookupName(std::string_view keyPath);

}  // namespace dormex
