#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/EventTraceController.h"

namespace dormex {

class DebugLog;
class FileSystem;

inline constexpr const char16_t* TraceSessionName = u"mytrace4";
inline constexpr const char* TraceFileName = "VQTSystemTrace.etl";

// The EVENT_TRACE_PROPERTIES block of the session with room for its names.
inline constexpr uint32_t TracePropertiesSize = 2688;
inline constexpr uint32_t TraceLoggerNameOffset = trace_properties::StructureSize;
inline constexpr uint32_t TraceLogFileNameOffset = 2168;
inline constexpr size_t TraceLogFileNameMaxChars = 259;

// <directory>\VQTSystemTrace.etl
std::string TraceFilePath(const std::string& directory);

// The zero-filled block with the session's settings and the trace file path
// (cut at 259 characters).
std::vector<uint8_t> BuildTraceProperties(const std::u16string& traceFile);

// Records five seconds of Kernel-Power and Kernel-Pep rundowns into
// <directory>\VQTSystemTrace.etl. 0, ErrorPathNotFound for a bad path, or
// the failing status.
int32_t RunPowerTrace(std::string directory, DebugLog& log, EventTraceController& controller,
                      FileSystem& files);

}  // namespace dormex
