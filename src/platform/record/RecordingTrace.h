#pragma once

#include "platform/EventTraceConsumer.h"
#include "platform/EventTraceController.h"
#include "platform/Tdh.h"
#include "platform/record/Recording.h"

namespace dormex {

// The trace services: the session's failures and every event delivered.
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

}  // namespace dormex
