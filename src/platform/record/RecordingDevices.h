#pragma once

#include "platform/DeviceIo.h"
#include "platform/DeviceManager.h"
#include "platform/FirmwareTables.h"
#include "platform/record/Recording.h"

namespace dormex {

// The device services: properties, firmware tables and storage ports.
class RecordingDeviceManager final : public DeviceManager {
public:
    RecordingDeviceManager(DeviceManager& inner, Recording& recording)
        : inner_(inner), recording_(recording)
    {
    }
    uint32_t LocateDevNode(DevInst* devInst, const std::u16string& instanceId,
                           uint32_t flags) override;
    uint32_t GetDevNodeProperty(DevInst devInst, const DevPropKey& key, uint32_t* propertyType,
                                uint8_t* buffer, uint32_t* bufferSize, uint32_t flags) override;

private:
    DeviceManager& inner_;
    Recording& recording_;
};

class RecordingFirmwareTables final : public FirmwareTables {
public:
    RecordingFirmwareTables(FirmwareTables& inner, Recording& recording)
        : inner_(inner), recording_(recording)
    {
    }
    uint32_t GetSystemFirmwareTable(uint32_t provider, uint32_t tableId, void* buffer,
                                    uint32_t bufferSize) override;

private:
    FirmwareTables& inner_;
    Recording& recording_;
};

class RecordingDeviceIo final : public DeviceIo {
public:
    RecordingDeviceIo(DeviceIo& inner, Recording& recording) : inner_(inner), recording_(recording)
    {
    }
    FileHandle CreateFileW(const std::u16string& path, uint32_t desiredAccess, uint32_t shareMode,
                           uint32_t creationDisposition, uint32_t flagsAndAttributes) override;
    bool DeviceIoControl(FileHandle handle, uint32_t ioControlCode, const void* input,
                         uint32_t inputSize, void* output, uint32_t outputSize,
                         uint32_t* bytesReturned) override;
    bool CloseHandle(FileHandle handle) override;

private:
    DeviceIo& inner_;
    Recording& recording_;
};

}  // namespace dormex
