#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/Guid.h"

namespace dormex {

using TraceHandle = uint64_t;

inline constexpr uint32_t ControlCodeDisableProvider = 0;
inline constexpr uint32_t ControlCodeEnableProvider = 1;
inline constexpr uint32_t ControlCodeCaptureState = 2;
inline constexpr uint32_t EventTraceControlStop = 1;

// Byte offsets of the EVENT_TRACE_PROPERTIES fields that StartTraceW reads,
// and the size of the structure; the names follow it in the same block.
namespace trace_properties {
inline constexpr size_t WnodeBufferSize = 0;
inline constexpr size_t WnodeFlags = 44;
inline constexpr size_t BufferSize = 48;
inline constexpr size_t MinimumBuffers = 52;
inline constexpr size_t MaximumBuffers = 56;
inline constexpr size_t MaximumFileSize = 60;
inline constexpr size_t LogFileMode = 64;
inline constexpr size_t LogFileNameOffset = 112;
inline constexpr size_t LoggerNameOffset = 116;
inline constexpr uint32_t StructureSize = 120;
}  // namespace trace_properties

// The controller side of Event Tracing for Windows.
class EventTraceController {
public:
    virtual ~EventTraceController() = default;

    // StartTraceW(handle, sessionName, properties). `properties` is the whole
    // EVENT_TRACE_PROPERTIES block with the names behind it; empty when the
    // caller has none (the call then fails as on Windows).
    virtual uint32_t StartTraceW(TraceHandle* handle, const std::u16string& sessionName,
                                 std::span<uint8_t> properties) = 0;

    // EnableTraceEx2 without enable parameters.
    virtual uint32_t EnableTraceEx2(TraceHandle handle, const Guid& provider, uint32_t controlCode,
                                    uint8_t level, uint64_t matchAnyKeyword,
                                    uint64_t matchAllKeyword, uint32_t timeout) = 0;

    // StopTraceW(handle, sessionName, properties).
    virtual uint32_t StopTraceW(TraceHandle handle, const std::u16string& sessionName,
                                std::span<uint8_t> properties) = 0;

    // ControlTraceW(handle, sessionName, properties, controlCode): with handle
    // 0 the session is found by its name.
    virtual uint32_t ControlTraceW(TraceHandle handle, const std::u16string& sessionName,
                                   std::span<uint8_t> properties, uint32_t controlCode) = 0;
};

}  // namespace dormex
