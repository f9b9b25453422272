#include "analysis/StorageCases.h"

#include <cstring>
#include <string>

#include "analysis/ConstraintAnalysis.h"
#include "analysis/Findings.h"
#include "log/DebugLog.h"
#include "platform/DeviceIo.h"
#include "rules/RuleSet.h"
#include "trace/RundownLists.h"

namespace dormex {

namespace {

void Put32(std::array<uint8_t, StorageProbeSize>& buffer, size_t offset, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i) {
        buffer[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// Closes an opened port on every way out.
class PortHandle {
public:
    PortHandle(DeviceIo& deviceIo, FileHandle handle) : deviceIo_(deviceIo), handle_(handle) {}
    ~PortHandle()
    {
        if (handle_ != InvalidFileHandle) {
            deviceIo_.CloseHandle(handle_);
        }
    }
    PortHandle(const PortHandle&) = delete;
    PortHandle& operator=(const PortHandle&) = delete;
    FileHandle Get() const { return handle_; }

private:
    DeviceIo& deviceIo_;
    FileHandle handle_;
};

}  // namespace

std::array<uint8_t, StorageProbeSize> BuildStorageProbe()
{
    std::array<uint8_t, StorageProbeSize> buffer{};
    Put32(buffer, 0, 28);  // HeaderLength
    std::memcpy(buffer.data() + 4, "CorvaVlp", 8);
    Put32(buffer, 12, 256);         // Timeout in seconds
    Put32(buffer, 16, 0x80000D06);  // ControlCode
    Put32(buffer, 20, 0);           // ReturnCode
    Put32(buffer, 24, StorageProbeSize - 28);
    return buffer;
}

bool StorageCacheAnswered(const std::array<uint8_t, StorageProbeSize>& answer)
{
    for (size_t i = 32; i < 72; ++i) {
        if (answer[i] != 0) {
            return true;
        }
    }
    return false;
}

void DetectStorageDriver(const PoDeviceEntry& device, ConstraintAnalysis& analysis, DebugLog& log)
{
    if (device.FriendlyName.rfind("kvStor", 0) == 0) {
        log.WriteLog(LogLevel::Information, "Corva SVT driver is present on the system", 0);
        analysis.StorageDriverPresent = true;
    }
}

void DetectStorageDriver(const Rule& invalidator, ConstraintAnalysis& analysis, DebugLog& log)
{
    if (invalidator.ServiceName.rfind("kvstor", 0) == 0) {
        log.WriteLog(LogLevel::Information, "Corva SVT is installed on this system.", 0);
        analysis.StorageDriverPresent = true;
    }
}

bool ProbeStorageCache(DebugLog& log, DeviceIo& deviceIo)
{
    log.WriteLog(LogLevel::Information, "Checking for Velomem presence", 0);
    bool present = false;
    for (int port = 0; port < 16; ++port) {
        const std::string number = std::to_string(port);
        std::u16string path = u"\\\\.\\Scsi";
        path.append(number.begin(), number.end());
        path += u':';
        // Shared, as other tools (the storage driver's own) may hold the port.
        PortHandle handle(deviceIo, deviceIo.CreateFileW(path, GenericReadWrite, FileShareReadWrite,
                                                         OpenExisting, 0));
        if (handle.Get() == InvalidFileHandle) {
            log.WriteLog(LogLevel::Information, "Could not find Scsi" + number, 0);
            continue;
        }
        std::array<uint8_t, StorageProbeSize> buffer = BuildStorageProbe();
        uint32_t returned = 0;
        bool answered =
            deviceIo.DeviceIoControl(handle.Get(), IoctlScsiMiniport, buffer.data(),
                                     StorageProbeSize, buffer.data(), StorageProbeSize, &returned);
        if (answered && StorageCacheAnswered(buffer)) {
            present = true;
            log.WriteLog(LogLevel::Information,
                         "Velomem IOCTL passed: Velomem Present on Scsi" + number, 0);
        } else {
            log.WriteLog(LogLevel::Information,
                         "Velomem IOCTL failed: Velomem Not Present on Scsi" + number, 0);
        }
    }
    return present;
}

void CheckStorageCacheVolume(const RundownLists& rundowns, ErrorRegistry& errors, DebugLog& log,
                             DeviceIo& deviceIo)
{
    if (!ProbeStorageCache(log, deviceIo)) {
        return;
    }
    bool found = false;
    for (const PepDeviceRundown& device : rundowns.PepDeviceRundownList) {
        if (device.DeviceName.find("SAT0.VOL") != std::string::npos) {
            log.WriteLog(LogLevel::Information, "SVT VOL constraint found", 0);
            found = true;
        }
    }
    if (!found) {
        errors.AddError(StorageCacheConstraintMissing, nullptr, nullptr, nullptr, log);
    }
}

}  // namespace dormex
