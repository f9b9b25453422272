#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/DeviceIo.h"
#include "platform/DeviceManager.h"
#include "platform/FirmwareTables.h"
#include "platform/replay/ReplayInterruption.h"
#include "platform/snapshot/MachineSnapshot.h"

namespace dormex {

// Devices located by instance id (ASCII case ignored, as the Configuration
// Manager does); their properties encoded as the platform returns them.
class ReplayDeviceManager final : public DeviceManager {
public:
    ReplayDeviceManager(const MachineSnapshot& snapshot, ReplayInterruption& interruption);
    uint32_t LocateDevNode(DevInst* devInst, const std::u16string& instanceId,
                           uint32_t flags) override;
    uint32_t GetDevNodeProperty(DevInst devInst, const DevPropKey& key, uint32_t* propertyType,
                                uint8_t* buffer, uint32_t* bufferSize, uint32_t flags) override;

private:
    std::vector<const SnapshotDeviceProperties*> devices_;  // DevInst n is devices_[n - 1]
    std::map<std::string, DevInst> byInstanceId_;  // lower-cased, in the program's 8-bit form
    ReplayInterruption& interruption_;
};

class ReplayFirmwareTables final : public FirmwareTables {
public:
    ReplayFirmwareTables(const MachineSnapshot& snapshot, ReplayInterruption& interruption)
        : snapshot_(snapshot), interruption_(interruption)
    {
    }
    uint32_t GetSystemFirmwareTable(uint32_t provider, uint32_t tableId, void* buffer,
                                    uint32_t bufferSize) override;

private:
    const MachineSnapshot& snapshot_;
    ReplayInterruption& interruption_;
    uint32_t calls_ = 0;
};

// SCSI ports "\\.\ScsiN:" that the snapshot lists open; a port's answer
// overwrites the request from its first byte.
class ReplayDeviceIo final : public DeviceIo {
public:
    explicit ReplayDeviceIo(const MachineSnapshot& snapshot) : snapshot_(snapshot) {}
    FileHandle CreateFileW(const std::u16string& path, uint32_t desiredAccess, uint32_t shareMode,
                           uint32_t creationDisposition, uint32_t flagsAndAttributes) override;
    bool DeviceIoControl(FileHandle handle, uint32_t ioControlCode, const void* input,
                         uint32_t inputSize, void* output, uint32_t outputSize,
                         uint32_t* bytesReturned) override;
    bool CloseHandle(FileHandle handle) override;

private:
    const MachineSnapshot& snapshot_;
    std::map<FileHandle, uint32_t> open_;  // handle -> port
    FileHandle next_ = 0x100;
};

}  // namespace dormex
