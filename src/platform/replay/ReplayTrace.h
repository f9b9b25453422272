#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/EventTraceConsumer.h"
#include "platform/EventTraceController.h"
#include "platform/FileSystem.h"
#include "platform/Tdh.h"
#include "platform/replay/ReplayInterruption.h"
#include "platform/snapshot/MachineSnapshot.h"

namespace dormex {

// The session writes its trace file when it starts. A provider's snapshot
// events enter the file when its capture-state request succeeds; events of
// other providers enter with the first successful request. The file names the
// events by their position in the snapshot.
class ReplayEventTraceController final : public EventTraceController {
public:
    ReplayEventTraceController(const MachineSnapshot& snapshot, FileSystem& files)
        : snapshot_(snapshot), files_(files)
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
    const MachineSnapshot& snapshot_;
    FileSystem& files_;
    bool running_ = false;
    bool leftoverSession_ = false;  // a start failed as if an earlier run's session were there
    size_t startCalls_ = 0;
    std::string traceFile_;  // native path
    uint32_t enableCalls_ = 0;
    bool otherProvidersEntered_ = false;
};

// One event as the replayed trace delivers it: its properties as UTF-16
// strings, one after the other, each zero-terminated unless it holds a zero
// unit (then counted, its length in the event's description).
struct ReplayEvent {
    const SnapshotEvent* Source = nullptr;
    std::vector<uint8_t> UserData;
};

class ReplayEventTraceConsumer final : public EventTraceConsumer {
public:
    ReplayEventTraceConsumer(const MachineSnapshot& snapshot, FileSystem& files,
                             ReplayInterruption& interruption)
        : snapshot_(snapshot), files_(files), interruption_(interruption)
    {
    }
    TraceHandle OpenTraceW(EventTraceLogfile& logfile) override;
    uint32_t GetLastError() override { return lastError_; }
    uint32_t ProcessTrace(TraceHandle handle) override;
    uint32_t CloseTrace(TraceHandle handle) override;

private:
    struct OpenedTrace {
        std::vector<size_t> Events;
        std::function<void(const EventRecord&)> Callback;
        bool Closed = false;
    };
    const MachineSnapshot& snapshot_;
    FileSystem& files_;
    ReplayInterruption& interruption_;
    uint32_t lastError_ = 0;
    std::map<TraceHandle, OpenedTrace> traces_;
    TraceHandle nextHandle_ = 1;
};

// Describes every replayed event as a manifest event whose properties are
// all UNICODESTRING, without value maps, counted where a value holds a zero
// unit.
class ReplayTdh final : public Tdh {
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

}  // namespace dormex
