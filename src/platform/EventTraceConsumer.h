#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/EventTraceController.h"
#include "platform/Guid.h"

namespace dormex {

inline constexpr TraceHandle InvalidProcessTraceHandle = ~TraceHandle{0};
inline constexpr uint32_t ProcessTraceModeEventRecord = 0x10000000;
inline constexpr uint16_t EventHeaderFlag32BitHeader = 0x0020;

// The fields of EVENT_RECORD that the decoder reads. `Native` points at the
// platform's own record so that its TDH service can decode it.
struct EventRecord {
    Guid ProviderId;
    uint16_t Id = 0;
    uint8_t Opcode = 0;
    uint16_t Flags = 0;
    const uint8_t* UserData = nullptr;
    uint16_t UserDataLength = 0;
    const void* Native = nullptr;
};

// The fields of EVENT_TRACE_LOGFILEW that the consumer sets and reads.
struct EventTraceLogfile {
    std::u16string LogFileName;
    uint32_t ProcessTraceMode = 0;
    std::function<void(const EventRecord&)> EventRecordCallback;
    uint32_t BuffersLost = 0;  // LogfileHeader.BuffersLost, filled by OpenTrace
};

// The consumer side of Event Tracing for Windows.
class EventTraceConsumer {
public:
    virtual ~EventTraceConsumer() = default;

    // OpenTraceW: InvalidProcessTraceHandle on failure, see GetLastError.
    virtual TraceHandle OpenTraceW(EventTraceLogfile& logfile) = 0;
    virtual uint32_t GetLastError() = 0;

    // ProcessTrace on one handle without time bounds: calls the callback for
    // every event on this thread; 1223 when the callback closed the handle.
    virtual uint32_t ProcessTrace(TraceHandle handle) = 0;

    virtual uint32_t CloseTrace(TraceHandle handle) = 0;
};

}  // namespace dormex
