#pragma once

#include <cstdint>

namespace dormex {

// The Windows error codes the services return and the program tests for.
inline constexpr uint32_t ErrorFileNotFound = 2;
inline constexpr uint32_t ErrorPathNotFound = 3;
inline constexpr uint32_t ErrorInvalidHandle = 6;
inline constexpr uint32_t ErrorInvalidData = 13;
inline constexpr uint32_t ErrorOutOfMemory = 14;
inline constexpr uint32_t ErrorNotSupported = 50;
inline constexpr uint32_t ErrorInvalidParameter = 87;
inline constexpr uint32_t ErrorInsufficientBuffer = 122;
inline constexpr uint32_t ErrorAlreadyExists = 183;
inline constexpr uint32_t ErrorMoreData = 234;
inline constexpr uint32_t ErrorNotFound = 1168;
inline constexpr uint32_t ErrorCancelled = 1223;
inline constexpr uint32_t ErrorUnsupportedType = 1630;
inline constexpr uint32_t ErrorWmiInstanceNotFound = 4201;
inline constexpr uint32_t ErrorEvtInvalidEventData = 15005;

}  // namespace dormex
