#include "platform/record/MachineRecorder.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Bytes.h"
#include "common/StatusCodes.h"
#include "common/Text.h"
#include "platform/DevicePropertyKeys.h"
#include "platform/TraceProviders.h"
#include "platform/snapshot/Answers.h"

namespace dormex {

namespace {

std::span<const uint8_t> BytesAt(const void* data, size_t size)
{
    return {static_cast<const uint8_t*>(data), size};
}

// What the services below have seen so far, shared by all of them.
struct Recording {
    explicit Recording(Interruption& interruption) : RunInterruption(interruption) {}

    // An interrupted run is recorded as interrupted during the call a replay
    // can repeat: the last of InterruptibleCalls entered before the
    // interruption was first seen, inside that call or after it.
    template <typename Call>
    auto Interruptible(std::string_view name, Call call)
    {
        LastInterruptibleCall = name;
        auto result = call();
        NoteInterruption(RunInterruption.Requested());
        return result;
    }
    void NoteInterruption(bool requested)
    {
        std::string& at = Snapshot.Faults.Interrupt;
        if (requested && at.empty() && !LastInterruptibleCall.empty()) {
            at = LastInterruptibleCall;
        }
    }

    Interruption& RunInterruption;
    std::string_view LastInterruptibleCall;
    MachineSnapshot Snapshot;
    std::vector<uint32_t> StartTraceStatuses;  // of every StartTraceW, in order
    uint32_t EnableCalls = 0;
    std::optional<size_t> CurrentEvent;  // the event being delivered, in Snapshot.Events
    std::map<DevInst, std::string> DeviceIds;
    std::map<FileHandle, uint32_t> OpenPorts;
};

class RecordingRegistry final : public Registry {
public:
    RecordingRegistry(Registry& inner, Recording& recording) : inner_(inner), recording_(recording)
    {
    }
    uint32_t GetValue(const std::string& key, const std::string& name, uint32_t flags, void* data,
                      uint32_t* size) override;

private:
    Registry& inner_;
    Recording& recording_;
};

class RecordingPowerInformation final : public PowerInformation {
public:
    RecordingPowerInformation(PowerInformation& inner, Recording& recording)
        : inner_(inner), recording_(recording)
    {
    }
    int32_t CallNtPowerInformation(int32_t level, const void* input, uint32_t inputSize,
                                   void* output, uint32_t outputSize) override;

private:
    PowerInformation& inner_;
    Recording& recording_;
};

class RecordingSecurity final : public Security {
public:
    RecordingSecurity(Security& inner, Recording& recording) : inner_(inner), recording_(recording)
    {
    }
    bool AllocateAndInitializeSid(const std::array<uint8_t, 6>& authority,
                                  uint8_t subAuthorityCount,
                                  const std::array<uint32_t, 8>& subAuthorities,
                                  SidHandle* sid) override;
    bool CheckTokenMembership(SidHandle sid, bool* isMember) override;
    void FreeSid(SidHandle sid) override { inner_.FreeSid(sid); }

private:
    Security& inner_;
    Recording& recording_;
};

class RecordingEventTraceController final : public EventTraceController {
public:
    RecordingEventTraceController(EventTraceController& inner, Recording& recording)
        : inner_(inner), recording_(recording)
    {
    }
    uint32_t StartTraceW(TraceHandle* handle, const std::u16string& sessionName,
                         std::span<uint8_t> properties) override;
    uint32_t EnableTraceEx2(TraceHandle handle, const Guid& provider, uint32_t controlCode,
                            uint8_t level, uint64_t matchAnyKeyword, uint64_t matchAllKeyword,
                            uint32_t timeout) override;
    uint32_t StopTraceW(TraceHandle handle, const std::u16string& sessionName,
                        std::span<uint8_t> properties) override;
    uint32_t ControlTraceW(TraceHandle handle, const std::u16string& sessionName,
                           std::span<uint8_t> properties, uint32_t controlCode) override;

private:
    EventTraceController& inner_;
    Recording& recording_;
};

class RecordingInterruption final : public Interruption {
public:
    explicit RecordingInterruption(Recording& recording) : recording_(recording) {}
    bool Requested() override
    {
        const bool requested = recording_.RunInterruption.Requested();
        recording_.NoteInterruption(requested);
        return requested;
    }
    void Sleep(uint32_t milliseconds) override
    {
        recording_.Interruptible("Sleep", [&] {
            recording_.RunInterruption.Sleep(milliseconds);
            return 0;
        });
    }

private:
    Recording& recording_;
};

class RecordingEventTraceConsumer final : public EventTraceConsumer {
public:
    RecordingEventTraceConsumer(EventTraceConsumer& inner, Recording& recording)
        : inner_(inner), recording_(recording)
    {
    }
    TraceHandle OpenTraceW(EventTraceLogfile& logfile) override;
    uint32_t GetLastError() override { return inner_.GetLastError(); }
    uint32_t ProcessTrace(TraceHandle handle) override;
    uint32_t CloseTrace(TraceHandle handle) override { return inner_.CloseTrace(handle); }

private:
    EventTraceConsumer& inner_;
    Recording& recording_;
};

class RecordingTdh final : public Tdh {
public:
    RecordingTdh(Tdh& inner, Recording& recording) : inner_(inner), recording_(recording) {}
    uint32_t GetEventInformation(const EventRecord& event, TraceEventInfo* info,
                                 uint32_t* bufferSize) override;
    uint32_t GetPropertySize(const EventRecord& event, const std::u16string& name,
                             uint32_t* size) override
    {
        return inner_.GetPropertySize(event, name, size);
    }
    uint32_t GetProperty(const EventRecord& event, const std::u16string& name, uint32_t bufferSize,
                         uint8_t* buffer) override
    {
        return inner_.GetProperty(event, name, bufferSize, buffer);
    }
    uint32_t GetEventMapInformation(const EventRecord& event, const std::u16string& mapName,
                                    EventMapInfo* map, uint32_t* bufferSize) override
    {
        return inner_.GetEventMapInformation(event, mapName, map, bufferSize);
    }
    uint32_t FormatProperty(const TraceEventInfo& info, const EventMapInfo* map,
                            uint32_t pointerSize, const EventPropertyInfo& property,
                            uint16_t propertyLength, uint16_t userDataLength,
                            const uint8_t* userData, uint32_t* bufferSize, char16_t* buffer,
                            uint16_t* userDataConsumed) override;

private:
    Tdh& inner_;
    Recording& recording_;
};

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

}  // namespace

uint32_t RecordingRegistry::GetValue(const std::string& key, const std::string& name,
                                     uint32_t flags, void* data, uint32_t* size)
{
    uint32_t status = recording_.Interruptible(
        "RegGetValueA", [&] { return inner_.GetValue(key, name, flags, data, size); });
    std::optional<SnapshotRegistryValue> value;
    if (status == 0 && data != nullptr && size != nullptr) {
        value = RegistryValueOf(flags, BytesAt(data, *size));
    } else if (status == ErrorUnsupportedType) {
        value = RegistryValueOutside(flags);
    }
    if (value) {
        recording_.Snapshot.Registry[RegistryKeyLookupName(key)][AsciiLower(name)] =
            std::move(*value);
    }
    return status;
}

int32_t RecordingPowerInformation::CallNtPowerInformation(int32_t level, const void* input,
                                                          uint32_t inputSize, void* output,
                                                          uint32_t outputSize)
{
    int32_t status = inner_.CallNtPowerInformation(level, input, inputSize, output, outputSize);
    if (level == SystemPowerCapabilities) {
        MachineSnapshot& snapshot = recording_.Snapshot;
        if (status != 0) {
            snapshot.PowerStatus = status;
        } else if (output != nullptr) {
            snapshot.PowerStatus.reset();
            ReadPowerCapabilities(BytesAt(output, outputSize), snapshot);
        }
    }
    return status;
}

bool RecordingSecurity::AllocateAndInitializeSid(const std::array<uint8_t, 6>& authority,
                                                 uint8_t subAuthorityCount,
                                                 const std::array<uint32_t, 8>& subAuthorities,
                                                 SidHandle* sid)
{
    bool allocated =
        inner_.AllocateAndInitializeSid(authority, subAuthorityCount, subAuthorities, sid);
    if (!allocated) {
        recording_.Snapshot.Administrator = false;  // the check cannot say yes
    }
    return allocated;
}

bool RecordingSecurity::CheckTokenMembership(SidHandle sid, bool* isMember)
{
    bool checked = inner_.CheckTokenMembership(sid, isMember);
    recording_.Snapshot.Administrator = checked && isMember != nullptr && *isMember;
    return checked;
}

uint32_t RecordingEventTraceController::StartTraceW(TraceHandle* handle,
                                                    const std::u16string& sessionName,
                                                    std::span<uint8_t> properties)
{
    uint32_t status = inner_.StartTraceW(handle, sessionName, properties);
    recording_.StartTraceStatuses.push_back(status);
    return status;
}

uint32_t RecordingEventTraceController::EnableTraceEx2(TraceHandle handle, const Guid& provider,
                                                       uint32_t controlCode, uint8_t level,
                                                       uint64_t matchAnyKeyword,
                                                       uint64_t matchAllKeyword, uint32_t timeout)
{
    uint32_t status = inner_.EnableTraceEx2(handle, provider, controlCode, level, matchAnyKeyword,
                                            matchAllKeyword, timeout);
    ++recording_.EnableCalls;
    if (status != 0) {
        recording_.Snapshot.Faults.EnableTraceEx2[recording_.EnableCalls] = status;
    }
    return status;
}

uint32_t RecordingEventTraceController::StopTraceW(TraceHandle handle,
                                                   const std::u16string& sessionName,
                                                   std::span<uint8_t> properties)
{
    uint32_t status = inner_.StopTraceW(handle, sessionName, properties);
    if (status != 0) {
        recording_.Snapshot.Faults.StopTraceW = status;
    }
    return status;
}

uint32_t RecordingEventTraceController::ControlTraceW(TraceHandle handle,
                                                      const std::u16string& sessionName,
                                                      std::span<uint8_t> properties,
                                                      uint32_t controlCode)
{
    uint32_t status = inner_.ControlTraceW(handle, sessionName, properties, controlCode);
    if (status != 0) {
        recording_.Snapshot.Faults.ControlTraceW = status;
    }
    return status;
}

TraceHandle RecordingEventTraceConsumer::OpenTraceW(EventTraceLogfile& logfile)
{
    // Every event is kept as it arrives, before the decoder sees it; the
    // header event is left out, as every replayed trace begins with its own.
    logfile.EventRecordCallback = [this, deliver = std::move(logfile.EventRecordCallback)](
                                      const EventRecord& event) {
        recording_.CurrentEvent.reset();
        if (!(event.ProviderId == EventTraceGuid && event.Opcode == 0)) {
            recording_.Snapshot.Events.push_back(SnapshotEventOf(event));
            recording_.CurrentEvent = recording_.Snapshot.Events.size() - 1;
        }
        if (deliver) {
            deliver(event);
        }
        recording_.CurrentEvent.reset();
    };
    TraceHandle handle = inner_.OpenTraceW(logfile);
    if (handle == InvalidProcessTraceHandle) {
        recording_.Snapshot.Faults.OpenTraceW = inner_.GetLastError();
    }
    return handle;
}

uint32_t RecordingEventTraceConsumer::ProcessTrace(TraceHandle handle)
{
    uint32_t status =
        recording_.Interruptible("ProcessTrace", [&] { return inner_.ProcessTrace(handle); });
    // Cancelled means the decoder closed the trace, which a replay repeats.
    if (status != 0 && status != ErrorCancelled) {
        recording_.Snapshot.Faults.ProcessTrace = status;
    }
    return status;
}

uint32_t RecordingTdh::GetEventInformation(const EventRecord& event, TraceEventInfo* info,
                                           uint32_t* bufferSize)
{
    uint32_t status = inner_.GetEventInformation(event, info, bufferSize);
    if (!recording_.CurrentEvent) {
        return status;
    }
    SnapshotEvent& recorded = recording_.Snapshot.Events[*recording_.CurrentEvent];
    // Asked for its size, the description answers 122 when it can be read.
    if (info == nullptr ? status != ErrorInsufficientBuffer : status != 0) {
        recorded.InformationFault = status;
    } else if (info != nullptr) {
        recorded.DecodingSource = info->DecodingSource;
    }
    return status;
}

uint32_t RecordingTdh::FormatProperty(const TraceEventInfo& info, const EventMapInfo* map,
                                      uint32_t pointerSize, const EventPropertyInfo& property,
                                      uint16_t propertyLength, uint16_t userDataLength,
                                      const uint8_t* userData, uint32_t* bufferSize,
                                      char16_t* buffer, uint16_t* userDataConsumed)
{
    uint32_t status = inner_.FormatProperty(info, map, pointerSize, property, propertyLength,
                                            userDataLength, userData, bufferSize, buffer,
                                            userDataConsumed);
    if (status == 0 && buffer != nullptr && recording_.CurrentEvent) {
        // The decoder takes the text up to its terminator, and so does a replay.
        std::u16string_view text(buffer, *bufferSize / sizeof(char16_t));
        recording_.Snapshot.Events[*recording_.CurrentEvent].Properties.emplace_back(
            Utf16ToUtf8(property.Name), TextOfWide(text));
    }
    return status;
}

uint32_t RecordingDeviceManager::LocateDevNode(DevInst* devInst, const std::u16string& instanceId,
                                               uint32_t flags)
{
    uint32_t status = recording_.Interruptible(
        "CM_Locate_DevNodeW", [&] { return inner_.LocateDevNode(devInst, instanceId, flags); });
    if (status == CrSuccess && devInst != nullptr) {
        // Instance ids compare ignoring case: the first spelling names the device.
        std::string id = Utf16ToUtf8(instanceId);
        auto& devices = recording_.Snapshot.Devices;
        auto same = std::find_if(devices.begin(), devices.end(), [&](const auto& device) {
            return AsciiLower(device.first) == AsciiLower(id);
        });
        if (same == devices.end()) {
            same = devices.emplace(id, std::map<std::string, SnapshotDeviceValue>{}).first;
        }
        recording_.DeviceIds[*devInst] = same->first;
    }
    return status;
}

uint32_t RecordingDeviceManager::GetDevNodeProperty(DevInst devInst, const DevPropKey& key,
                                                    uint32_t* propertyType, uint8_t* buffer,
                                                    uint32_t* bufferSize, uint32_t flags)
{
    uint32_t status =
        inner_.GetDevNodeProperty(devInst, key, propertyType, buffer, bufferSize, flags);
    auto device = recording_.DeviceIds.find(devInst);
    auto row = std::find_if(DevicePropertyKeys.begin(), DevicePropertyKeys.end(),
                            [&](const DevicePropertyKey& known) { return known.Key == key; });
    if (status == CrSuccess && buffer != nullptr && bufferSize != nullptr &&
        propertyType != nullptr && device != recording_.DeviceIds.end() &&
        row != DevicePropertyKeys.end()) {
        recording_.Snapshot.Devices[device->second][std::string(row->Name)] =
            DeviceValueOf(*propertyType, BytesAt(buffer, *bufferSize));
    }
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

struct MachineRecorder::Services {
    explicit Services(const Platform& platform)
        : inner(platform),
          recording(platform.interruption),
          interruption(recording),
          registry(platform.registry, recording),
          power(platform.power, recording),
          security(platform.security, recording),
          traceController(platform.traceController, recording),
          traceConsumer(platform.traceConsumer, recording),
          tdh(platform.tdh, recording),
          deviceManager(platform.deviceManager, recording),
          firmwareTables(platform.firmwareTables, recording),
          deviceIo(platform.deviceIo, recording)
    {
    }

    Platform inner;
    Recording recording;
    RecordingInterruption interruption;
    RecordingRegistry registry;
    RecordingPowerInformation power;
    RecordingSecurity security;
    RecordingEventTraceController traceController;
    RecordingEventTraceConsumer traceConsumer;
    RecordingTdh tdh;
    RecordingDeviceManager deviceManager;
    RecordingFirmwareTables firmwareTables;
    RecordingDeviceIo deviceIo;
};

MachineRecorder::MachineRecorder(const Platform& inner) : services_(std::make_unique<Services>(inner))
{
}

MachineRecorder::~MachineRecorder() = default;

Platform MachineRecorder::RecordingPlatform()
{
    Services& s = *services_;
    return Platform{s.registry,      s.power,       s.security,       s.traceController,
                    s.traceConsumer, s.tdh,         s.deviceManager,  s.firmwareTables,
                    s.deviceIo,      s.inner.files, s.inner.console, s.interruption};
}

MachineSnapshot MachineRecorder::Snapshot() const
{
    const Recording& recording = services_->recording;
    MachineSnapshot snapshot = recording.Snapshot;
    snapshot.Faults.StartTraceW = StartTraceFaultsOf(recording.StartTraceStatuses);
    snapshot.Faults.StartTraceWAlways = false;
    return snapshot;
}

}  // namespace dormex
