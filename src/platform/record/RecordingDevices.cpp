#include "platform/record/RecordingDevices.h"

#include <algorithm>

#include "common/Bytes.h"
#include "common/Text.h"
#include "platform/DevicePropertyKeys.h"
#include "platform/snapshot/Answers.h"

namespace dormex {

uint32_t RecordingDeviceManager::LocateDevNode(DevInst* devInst, const std::u16string& instanceId,
                                               uint32_t flags)
{
    uint32_t status = recording_.Interruptible(
        "CM_Locate_DevNodeW", [&] { return inner_.LocateDevNode(devInst, instanceId, flags); });
    if (status == CrSuccess && devInst != nullptr) {
        // Instance ids compare ignoring case: the first spelling names the device.
        const std::string id = Utf16ToUtf8(instanceId);
        auto spelling = recording_.DeviceSpellings.find(id);
        if (spelling == recording_.DeviceSpellings.end()) {
            auto& [name, properties] = *recording_.Snapshot.Devices.try_emplace(id).first;
            spelling = recording_.DeviceSpellings.emplace(name, &properties).first;
        }
        recording_.DeviceNodes[*devInst] = spelling->second;
        recording_.AskingAbout(*devInst, spelling->second);
    }
    return status;
}

uint32_t RecordingDeviceManager::GetDevNodeProperty(DevInst devInst, const DevPropKey& key,
                                                    uint32_t* propertyType, uint8_t* buffer,
                                                    uint32_t* bufferSize, uint32_t flags)
{
    uint32_t status =
        inner_.GetDevNodeProperty(devInst, key, propertyType, buffer, bufferSize, flags);
    if (status != CrSuccess || buffer == nullptr || bufferSize == nullptr ||
        propertyType == nullptr) {
        return status;
    }
    auto& [lastNode, lastDevice] = recording_.LastDeviceNode;
    if (lastDevice == nullptr || lastNode != devInst) {
        auto device = recording_.DeviceNodes.find(devInst);
        if (device == recording_.DeviceNodes.end()) {
            return status;
        }
        recording_.AskingAbout(device->first, device->second);
    }
    // A key Dormex does not read is left out.
    SetDeviceValueOf(recording_.DeviceScratch, DevicePropertyIndex(key), *propertyType,
                     BytesAt(buffer, *bufferSize));
    return status;
}

uint32_t RecordingFirmwareTables::GetSystemFirmwareTable(uint32_t provider, uint32_t tableId,
                                                         void* buffer, uint32_t bufferSize)
{
    uint32_t size = recording_.Interruptible("GetSystemFirmwareTable", [&] {
        return inner_.GetSystemFirmwareTable(provider, tableId, buffer, bufferSize);
    });
    if (provider == FirmwareProviderAcpi && buffer != nullptr && size > 0) {
        // A table that grew since its size was asked fills the buffer and
        // reports more: the buffer holds the table as a replay serves it.
        recording_.Snapshot.Faults.FirmwareTableGrows |= size > bufferSize;
        std::span<const uint8_t> table = BytesAt(buffer, std::min(size, bufferSize));
        recording_.Snapshot.FirmwareTables[FirmwareTableSignature(tableId)].assign(table.begin(),
                                                                                   table.end());
    }
    return size;
}

FileHandle RecordingDeviceIo::CreateFileW(const std::u16string& path, uint32_t desiredAccess,
                                          uint32_t shareMode, uint32_t creationDisposition,
                                          uint32_t flagsAndAttributes)
{
    FileHandle handle =
        inner_.CreateFileW(path, desiredAccess, shareMode, creationDisposition, flagsAndAttributes);
    std::optional<uint32_t> port = ScsiPortOfPath(path);
    if (handle != InvalidFileHandle && port) {
        recording_.Snapshot.ScsiPorts[*port];
        recording_.OpenPorts[handle] = *port;
    }
    return handle;
}

bool RecordingDeviceIo::DeviceIoControl(FileHandle handle, uint32_t ioControlCode,
                                        const void* input, uint32_t inputSize, void* output,
                                        uint32_t outputSize, uint32_t* bytesReturned)
{
    bool done = inner_.DeviceIoControl(handle, ioControlCode, input, inputSize, output, outputSize,
                                       bytesReturned);
    auto port = recording_.OpenPorts.find(handle);
    if (port != recording_.OpenPorts.end() && ioControlCode == IoctlScsiMiniport) {
        SnapshotScsiPort& recorded = recording_.Snapshot.ScsiPorts[port->second];
        recorded.IoctlFails = !done;
        recorded.Answer.clear();
        if (done && output != nullptr) {
            std::span<const uint8_t> answer = BytesAt(output, outputSize);
            recorded.Answer.assign(answer.begin(), answer.end());
        }
    }
    return done;
}

bool RecordingDeviceIo::CloseHandle(FileHandle handle)
{
    recording_.OpenPorts.erase(handle);
    return inner_.CloseHandle(handle);
}

}  // namespace dormex
