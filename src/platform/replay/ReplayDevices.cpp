#include "platform/replay/ReplayDevices.h"

#include <algorithm>
#include <cstring>

#include "common/Bytes.h"
#include "common/Text.h"
#include "platform/DevicePropertyKeys.h"
#include "platform/snapshot/Answers.h"

namespace dormex {

namespace {

constexpr uint32_t CrInvalidDevNode = 0x05;

std::string InstanceKey(const std::u16string& instanceId)
{
    return AsciiLower(Utf16ToUtf8(instanceId));
}

}  // namespace

ReplayDeviceManager::ReplayDeviceManager(const MachineSnapshot& snapshot,
                                         ReplayInterruption& interruption)
    : interruption_(interruption)
{
    for (const auto& [instanceId, properties] : snapshot.Devices) {
        devices_.push_back(&properties);
        byInstanceId_.emplace(InstanceKey(Utf8ToUtf16(instanceId)),
                              static_cast<DevInst>(devices_.size()));
    }
}

uint32_t ReplayDeviceManager::LocateDevNode(DevInst* devInst, const std::u16string& instanceId,
                                            uint32_t)
{
    interruption_.Reached("CM_Locate_DevNodeW");
    auto found = byInstanceId_.find(InstanceKey(instanceId));
    if (found == byInstanceId_.end()) {
        return CrNoSuchDevNode;
    }
    *devInst = found->second;
    return CrSuccess;
}

uint32_t ReplayDeviceManager::GetDevNodeProperty(DevInst devInst, const DevPropKey& key,
                                                 uint32_t* propertyType, uint8_t* buffer,
                                                 uint32_t* bufferSize, uint32_t)
{
    if (devInst == 0 || devInst > devices_.size()) {
        return CrInvalidDevNode;
    }
    // A key Dormex does not read is no value of any device.
    const std::optional<SnapshotDeviceValue> value =
        devices_[devInst - 1]->Find(DevicePropertyIndex(key));
    if (!value) {
        return CrNoSuchValue;
    }
    DevicePropertyAnswer answer = DevicePropertyAnswerOf(*value);
    const std::vector<uint8_t>& bytes = answer.Bytes;
    if (propertyType != nullptr) {
        *propertyType = answer.Type;
    }
    if (buffer == nullptr || *bufferSize < bytes.size()) {
        *bufferSize = static_cast<uint32_t>(bytes.size());
        return CrBufferSmall;
    }
    CopyBytes(buffer, bytes.data(), bytes.size());
    *bufferSize = static_cast<uint32_t>(bytes.size());
    return CrSuccess;
}

uint32_t ReplayFirmwareTables::GetSystemFirmwareTable(uint32_t provider, uint32_t tableId,
                                                      void* buffer, uint32_t bufferSize)
{
    interruption_.Reached("GetSystemFirmwareTable");
    ++calls_;
    if (provider != FirmwareProviderAcpi) {
        return 0;
    }
    auto table = snapshot_.FirmwareTables.find(FirmwareTableSignature(tableId));
    if (table == snapshot_.FirmwareTables.end()) {
        return 0;
    }
    const std::vector<uint8_t>& bytes = table->second;
    uint32_t size = static_cast<uint32_t>(bytes.size());
    if (buffer != nullptr) {
        CopyBytes(buffer, bytes.data(), std::min(size, bufferSize));
    }
    if (snapshot_.Faults.FirmwareTableGrows && calls_ >= 2) {
        return size + 56;  // the table grew between the two calls
    }
    return size;
}

FileHandle ReplayDeviceIo::CreateFileW(const std::u16string& path, uint32_t, uint32_t, uint32_t,
                                       uint32_t)
{
    std::optional<uint32_t> port = ScsiPortOfPath(path);
    if (!port) {
        return InvalidFileHandle;
    }
    if (snapshot_.ScsiPorts.find(*port) == snapshot_.ScsiPorts.end()) {
        return InvalidFileHandle;
    }
    FileHandle handle = next_++;
    open_[handle] = *port;
    return handle;
}

bool ReplayDeviceIo::DeviceIoControl(FileHandle handle, uint32_t ioControlCode, const void*,
                                     uint32_t, void* output, uint32_t outputSize,
                                     uint32_t* bytesReturned)
{
    auto opened = open_.find(handle);
    if (opened == open_.end() || ioControlCode != IoctlScsiMiniport) {
        return false;
    }
    const SnapshotScsiPort& port = snapshot_.ScsiPorts.at(opened->second);
    if (port.IoctlFails) {
        return false;
    }
    size_t copied = std::min<size_t>(port.Answer.size(), outputSize);
    CopyBytes(output, port.Answer.data(), copied);
    if (bytesReturned != nullptr) {
        *bytesReturned = outputSize;
    }
    return true;
}

bool ReplayDeviceIo::CloseHandle(FileHandle handle)
{
    return open_.erase(handle) == 1;
}

}  // namespace dormex
