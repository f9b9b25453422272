#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace dormex {

class DebugLog;
class DeviceIo;
class ErrorRegistry;
struct ConstraintAnalysis;
struct PoDeviceEntry;
struct Rule;
struct RundownLists;

// The storage-cache miniport request: SRB_IO_CONTROL and its payload.
inline constexpr size_t StorageProbeSize = 224;
std::array<uint8_t, StorageProbeSize> BuildStorageProbe();

// Whether an answer says the cache is present (a non-zero byte at 32 to 71).
bool StorageCacheAnswered(const std::array<uint8_t, StorageProbeSize>& answer);

// An OS device named "kvStor..." marks the storage driver as present.
void DetectStorageDriver(const PoDeviceEntry& device, ConstraintAnalysis& analysis, DebugLog& log);

// A firing class invalidator whose service is "kvstor..." marks it too.
void DetectStorageDriver(const Rule& invalidator, ConstraintAnalysis& analysis, DebugLog& log);

// Asks SCSI ports 0 to 15 whether the storage cache is present.
bool ProbeStorageCache(DebugLog& log, DeviceIo& deviceIo);

// With the cache present, the PEP devices must include the storage volume.
void CheckStorageCacheVolume(const RundownLists& rundowns, ErrorRegistry& errors, DebugLog& log,
                             DeviceIo& deviceIo);

}  // namespace dormex
