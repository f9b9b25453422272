#pragma once

#include <cstdint>

namespace dormex {

// Every status number the program returns, passes on or tests for, each named
// once. Most are Windows error codes and keep their Windows meaning; the
// others are the program's own fixed codes.

// Windows error codes.
inline constexpr uint32_t ErrorFileNotFound = 2;
inline constexpr uint32_t ErrorPathNotFound = 3;  // also the program's "bad path"
inline constexpr uint32_t ErrorAccessDenied = 5;
inline constexpr uint32_t ErrorInvalidHandle = 6;
inline constexpr uint32_t ErrorNotEnoughMemory = 8;  // no memory for a record
inline constexpr uint32_t ErrorInvalidData = 13;     // a rule file not loadable or not valid
inline constexpr uint32_t ErrorOutOfMemory = 14;     // no memory while decoding or joining
inline constexpr uint32_t ErrorWriteFault = 29;      // the report could not be written
inline constexpr uint32_t ErrorGenFailure = 31;      // a failed open that gave no code
inline constexpr uint32_t ErrorNotSupported = 50;    // a firmware table not present
inline constexpr uint32_t ErrorInvalidParameter = 87;
inline constexpr uint32_t ErrorInsufficientBuffer = 122;
inline constexpr uint32_t ErrorBusy = 170;  // another Dormex run is in progress
inline constexpr uint32_t ErrorAlreadyExists = 183;
inline constexpr uint32_t ErrorMoreData = 234;
inline constexpr uint32_t ErrorNoUnicodeTranslation = 1113;  // paths a narrow code page garbles
inline constexpr uint32_t ErrorNotFound = 1168;
inline constexpr uint32_t ErrorCancelled = 1223;  // also: the user interrupted the run
inline constexpr uint32_t ErrorUnsupportedType = 1630;
inline constexpr uint32_t ErrorWmiInstanceNotFound = 4201;
inline constexpr uint32_t ErrorEvtInvalidEventData = 15005;

// The program's own codes.
inline constexpr int32_t RegistryValueUnreadable = 1010;
inline constexpr int32_t UserProfileUnreadable = 1253;
inline constexpr int32_t FirmwareTableInconsistent = 1628;
inline constexpr int32_t XmlElementMissing = 2013;

// Exit statuses that are not the code of a failing step.
inline constexpr int32_t ExitRuleFileFaulty = 1;  // dormex-rules-check found a problem
inline constexpr int32_t ExitBadInput = 2;  // an unusable input, or a bad command line

// A Windows error code as the program's signed status.
constexpr int32_t AsStatus(uint32_t code)
{
    return static_cast<int32_t>(code);
}

}  // namespace dormex
