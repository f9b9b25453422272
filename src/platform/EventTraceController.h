#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/Guid.h"

namespace dormex {

using TraceHandle = uint64_t;

inline constexpr uint32_t ControlCodeDisableProvider = 0;
inline constexpr uint32_t ControlCodeEnableProvider = 1;
inline constexpr uint32_t ControlCodeCaptureState = 2;

// The controller side of Event Tracing for Windows.
class EventTraceController {
public:
    virtual ~EventTraceController() = default;

    // StartTraceW(handle, sessionName, properties). `properties` is the whole
    // EVENT_TRACE_PROPERTIES block with the names behind it; empty when the
    // caller has none (the call then fails as on Windows).
    virtual uint32_t StartTrace(TraceHandle* handle, const std::u16string& sessionName,
                                std::span<uint8_t> properties) = 0;

    // EnableTraceEx2 without enable parameters.
    virtual uint32_t EnableTraceEx2(TraceHandle handle, const Guid& provider, uint32_t controlCode,
                                    uint8_t level, uint64_t matchAnyKeyword,
                                    uint64_t matchAllKeyword, uint32_t timeout) = 0;

    // StopTraceW(handle, sessionName, properties).
    virtual uint32_t StopTrace(TraceHandle handle, const std::u16string& sessionName,
                               std::span<uint8_t> properties) = 0;

    // Sleep: the capture window. A replayed machine need not wait.
    virtual void Sleep(uint32_t milliseconds) = 0;
};

}  // namespace dormex
