#pragma once

#include <functional>
#include <map>
#include <memory>

#include "platform/DeviceIo.h"
#include "platform/DeviceManager.h"
#include "platform/EventTraceConsumer.h"
#include "platform/EventTraceController.h"
#include "platform/FileSystem.h"
#include "platform/FirmwareTables.h"
#include "platform/Platform.h"
#include "platform/PowerInformation.h"
#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/Tdh.h"

namespace dormex {

class Win32Registry final : public Registry {
public:
    uint32_t GetValue(const std::string& key, const std::string& name, uint32_t flags, void* data,
                      uint32_t* size) override;
};

class Win32PowerInformation final : public PowerInformation {
public:
    int32_t CallNtPowerInformation(int32_t level, const void* input, uint32_t inputSize,
                                   void* output, uint32_t outputSize) override;
};

class Win32Security final : public Security {
public:
    bool AllocateAndInitializeSid(const std::array<uint8_t, 6>& authority,
                                  uint8_t subAuthorityCount,
                                  const std::array<uint32_t, 8>& subAuthorities,
                                  SidHandle* sid) override;
    bool CheckTokenMembership(SidHandle sid, bool* isMember) override;
    void FreeSid(SidHandle sid) override;
};

class Win32EventTraceController final : public EventTraceController {
public:
    uint32_t StartTraceW(TraceHandle* handle, const std::u16string& sessionName,
                         std::span<uint8_t> properties) override;
    uint32_t EnableTraceEx2(TraceHandle handle, const Guid& provider, uint32_t controlCode,
                            uint8_t level, uint64_t matchAnyKeyword, uint64_t matchAllKeyword,
                            uint32_t timeout) override;
    uint32_t StopTraceW(TraceHandle handle, const std::u16string& sessionName,
                        std::span<uint8_t> properties) override;
    uint32_t ControlTraceW(TraceHandle handle, const std::u16string& sessionName,
                           std::span<uint8_t> properties, uint32_t controlCode) override;
};

// A trace file is read to its end unless the decoder closes it from its
// callback: the close then waits until ProcessTrace returns, and the buffer
// callback ends the reading (closing a log file's trace while it is read is
// not allowed).
class Win32EventTraceConsumer final : public EventTraceConsumer {
public:
    struct OpenedTrace {
        std::function<void(const EventRecord&)> Callback;
        bool Processing = false;
        bool CloseRequested = false;
    };

    TraceHandle OpenTraceW(EventTraceLogfile& logfile) override;
    uint32_t GetLastError() override { return lastError_; }
    uint32_t ProcessTrace(TraceHandle handle) override;
    uint32_t CloseTrace(TraceHandle handle) override;

private:
    uint32_t lastError_ = 0;
    // The traces open, each where the platform's callbacks find it: its
    // address is the trace's user context.
    std::map<TraceHandle, std::unique_ptr<OpenedTrace>> traces_;
};

class Win32Tdh final : public Tdh {
public:
    uint32_t GetEventInformation(const EventRecord& event, TraceEventInfo* info,
                                 uint32_t* bufferSize) override;
    uint32_t GetPropertySize(const EventRecord& event, const std::u16string& name,
                             uint32_t* size) override;
    uint32_t GetProperty(const EventRecord& event, const std::u16string& name, uint32_t bufferSize,
                         uint8_t* buffer) override;
    uint32_t GetEventMapInformation(const EventRecord& event, const std::u16string& mapName,
                                    EventMapInfo* map, uint32_t* bufferSize) override;
    uint32_t FormatProperty(const TraceEventInfo& info, const EventMapInfo* map,
                            uint32_t pointerSize, const EventPropertyInfo& property,
                            uint16_t propertyLength, uint16_t userDataLength,
                            const uint8_t* userData, uint32_t* bufferSize, char16_t* buffer,
                            uint16_t* userDataConsumed) override;
};

class Win32DeviceManager final : public DeviceManager {
public:
    uint32_t LocateDevNode(DevInst* devInst, const std::u16string& instanceId,
                           uint32_t flags) override;
    uint32_t GetDevNodeProperty(DevInst devInst, const DevPropKey& key, uint32_t* propertyType,
                                uint8_t* buffer, uint32_t* bufferSize, uint32_t flags) override;
};

class Win32FirmwareTables final : public FirmwareTables {
public:
    uint32_t GetSystemFirmwareTable(uint32_t provider, uint32_t tableId, void* buffer,
                                    uint32_t bufferSize) override;
};

class Win32DeviceIo final : public DeviceIo {
public:
    FileHandle CreateFileW(const std::u16string& path, uint32_t desiredAccess, uint32_t shareMode,
                           uint32_t creationDisposition, uint32_t flagsAndAttributes) override;
    bool DeviceIoControl(FileHandle handle, uint32_t ioControlCode, const void* input,
                         uint32_t inputSize, void* output, uint32_t outputSize,
                         uint32_t* bytesReturned) override;
    bool CloseHandle(FileHandle handle) override;
};

// The live machine's services beside the given files.
class Win32Machine {
public:
    explicit Win32Machine(FileSystem& files) : files_(files) {}

    Platform PlatformWith(Console& console, Interruption& interruption)
    {
        return Platform{registry_,      power_, security_,      traceController_,
                        traceConsumer_, tdh_,   deviceManager_, firmwareTables_,
                        deviceIo_,      files_, console,        interruption};
    }

private:
    FileSystem& files_;
    Win32Registry registry_;
    Win32PowerInformation power_;
    Win32Security security_;
    Win32EventTraceController traceController_;
    Win32EventTraceConsumer traceConsumer_;
    Win32Tdh tdh_;
    Win32DeviceManager deviceManager_;
    Win32FirmwareTables firmwareTables_;
    Win32DeviceIo deviceIo_;
};

}  // namespace dormex
