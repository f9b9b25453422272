#include "platform/record/RecordingTrace.h"

#include "common/StatusCodes.h"
#include "common/Text.h"
#include "platform/TraceProviders.h"
#include "platform/snapshot/Answers.h"

namespace dormex {

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
    logfile.EventRecordCallback =
        [this, deliver = std::move(logfile.EventRecordCallback)](const EventRecord& event) {
            recording_.CurrentEvent.reset();
            recording_.EventScratch.Clear();
            if (!(event.ProviderId == EventTraceGuid && event.Opcode == 0)) {
                recording_.Snapshot.Events.push_back(SnapshotEventOf(event));
                recording_.CurrentEvent = recording_.Snapshot.Events.size() - 1;
            }
            if (deliver) {
                deliver(event);
            }
            if (recording_.CurrentEvent && !recording_.EventScratch.empty()) {
                recording_.Snapshot.Events[*recording_.CurrentEvent].Properties =
                    recording_.EventScratch;
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
    uint32_t status =
        inner_.FormatProperty(info, map, pointerSize, property, propertyLength, userDataLength,
                              userData, bufferSize, buffer, userDataConsumed);
    if (status == 0 && buffer != nullptr && recording_.CurrentEvent) {
        // The decoder takes the text up to its terminator, and so does a replay.
        std::u16string_view text(buffer, *bufferSize / sizeof(char16_t));
        recording_.EventScratch.Add(property.Name, TextOfWide(text));
    }
    return status;
}

}  // namespace dormex
