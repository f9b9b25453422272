#pragma once

#include <array>
#include <cstdint>
#include <deque>
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
#include "platform/snapshot/SnapshotValues.h"

namespace dormex {

inline constexpr std::string_view MachineSnapshotFormat = "dormex-machine/1";

struct SnapshotRegistryValue {
    enum class Type { Sz, Dword, Binary };
    Type ValueType = Type::Sz;
    std::string Text;            // REG_SZ, as UTF-8 bytes
    uint32_t Dword = 0;          // REG_DWORD
    std::vector<uint8_t> Bytes;  // REG_BINARY
};

// Its members are in the order that packs a trace's many events the tightest.
struct SnapshotEvent {
    Guid Provider{};  // filed by its name (KernelProviderName) or its GuidText
    SnapshotEventProperties Properties;
    // The decoder cannot read the event's description: TdhGetEventInformation
    // fails with this status.
    std::optional<uint32_t> InformationFault;
    uint32_t DecodingSource = 0;
    uint16_t Id = 0;
    uint8_t Opcode = 0;
    uint8_t PointerSize = 8;
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
