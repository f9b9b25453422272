#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/EventTraceConsumer.h"
#include "platform/snapshot/MachineSnapshot.h"

namespace dormex {

// Each platform answer in the shape the Win32 call gives it, beside the
// snapshot's form of the same answer: replay turns the snapshot into
// answers, recording turns answers back into a snapshot, and each pair reads
// back what the other writes.

// RegGetValueA: the value's data and the RRF_RT_* flag of its type.
struct RegistryAnswer {
    uint32_t TypeFlag = 0;
    std::vector<uint8_t> Data;  // REG_SZ with its terminator
};
RegistryAnswer RegistryAnswerOf(const SnapshotRegistryValue& value);
// The value that a call restricted to `flags` answered with `data`.
SnapshotRegistryValue RegistryValueOf(uint32_t flags, std::span<const uint8_t> data);
// A value of a type that `flags` does not take (ERROR_UNSUPPORTED_TYPE; which
// type it has is not told).
SnapshotRegistryValue RegistryValueOutside(uint32_t flags);

// CallNtPowerInformation(SystemPowerCapabilities): the structure's bytes.
void WritePowerCapabilities(const MachineSnapshot& snapshot, std::span<uint8_t> output);
void ReadPowerCapabilities(std::span<const uint8_t> output, MachineSnapshot& snapshot);

// CM_Get_DevNode_PropertyW: the DEVPROP_TYPE and the value's bytes.
struct DevicePropertyAnswer {
    uint32_t Type = 0;
    std::vector<uint8_t> Bytes;
};
DevicePropertyAnswer DevicePropertyAnswerOf(const SnapshotDeviceValue& value);
// Sets the value of type `type` and `bytes` at `key` of `device` (see
// SnapshotDeviceProperties::Set), encoded as it is read.
bool SetDeviceValueOf(SnapshotDeviceProperties& device, size_t key, uint32_t type,
                      std::span<const uint8_t> bytes);

// GetSystemFirmwareTable('ACPI', id): the snapshot names a table by its
// four signature characters, in the order of the id's bytes in memory.
std::string FirmwareTableSignature(uint32_t tableId);

// An event's header as the trace delivers it (without its user data), and
// the snapshot event that records it.
EventRecord EventRecordOf(const SnapshotEvent& event);
SnapshotEvent SnapshotEventOf(const EventRecord& record);

// A property's text as TdhFormatProperty or a string property answers it:
// zero-terminated UTF-16; read back up to the first zero unit.
std::vector<uint8_t> WideTextBytes(std::string_view utf8);
std::u16string_view TextOfWide(std::u16string_view formatted);

// StartTraceW: the statuses of successive calls, and the snapshot's list of
// them, whose later calls succeed.
std::vector<uint32_t> StartTraceFaultsOf(std::vector<uint32_t> statuses);
// The status the snapshot gives call `call` (from 0), or none when it leaves
// that call to the session's own state.
std::optional<uint32_t> StartTraceFault(const SnapshotFaults& faults, size_t call);

}  // namespace dormex
