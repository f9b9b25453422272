#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/EventTraceController.h"

namespace dormex {

class DebugLog;
class FileSystem;
class Interruption;

inline constexpr const char16_t* TraceSessionName = u"mytrace4";
inline constexpr const char* TraceFileName = "VQTSystemTrace.etl";

// The EVENT_TRACE_PROPERTIES block of the session with room for its names:
// the session name, then a log file name as long as ETW takes (1,024
// characters with the terminator), so that a long profile path is never cut
// into a file outside the profile.
inline constexpr uint32_t TraceLoggerNameOffset = trace_properties::StructureSize;
inline constexpr uint32_t TraceLogFileNameOffset = 2168;
inline constexpr size_t TraceLogFileNameMaxChars = 1023;
inline constexpr uint32_t TracePropertiesSize =
    TraceLogFileNameOffset + 2 * (TraceLogFileNameMaxChars + 1);

// <directory>\VQTSystemTrace.etl
std::string TraceFilePath(const std::string& directory);

// The zero-filled block with the session's settings and the trace file path
// (cut at 259 characters).
std::vector<uint8_t> BuildTraceProperties(const std::u16string& traceFile);

// Records five seconds of Kernel-Power and Kernel-Pep rundowns into
// <directory>\VQTSystemTrace.etl, fewer when the run is interrupted. 0,
// ErrorPathNotFound for a bad path, or the failing status.
int32_t RunPowerTrace(std::string directory, DebugLog& log, EventTraceController& controller,
                      Interruption& interruption, FileSystem& files);

}  // namespace dormex
