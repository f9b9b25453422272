#pragma once

#include <functional>
#include <map>
#include <memory>

#include "platform/EventTraceConsumer.h"
#include "platform/EventTraceController.h"
#include "platform/Tdh.h"

namespace dormex {

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

}  // namespace dormex
