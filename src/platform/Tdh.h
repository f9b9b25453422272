#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/EventTraceConsumer.h"

namespace dormex {

inline constexpr uint32_t PropertyStruct = 0x1;
inline constexpr uint32_t PropertyParamLength = 0x2;
inline constexpr uint32_t PropertyParamCount = 0x4;

inline constexpr uint16_t TdhInTypeUnicodeString = 1;
inline constexpr uint16_t TdhInTypeAnsiString = 2;
inline constexpr uint16_t TdhInTypeBinary = 14;
inline constexpr uint16_t TdhOutTypeIpv6 = 24;

inline constexpr uint32_t DecodingSourceXMLFile = 0;

// One EVENT_PROPERTY_INFO, names resolved from their offsets. `Count` and
// `Length` hold countPropertyIndex and lengthPropertyIndex when the flags
// say so, as the unions of the Windows structure do.
struct EventPropertyInfo {
    uint32_t Flags = 0;
    std::u16string Name;
    uint16_t InType = 0;
    uint16_t OutType = 0;
    std::u16string MapName;
    uint16_t StructStartIndex = 0;
    uint16_t NumOfStructMembers = 0;
    uint16_t Count = 0;
    uint16_t Length = 0;
};

// The fields of TRACE_EVENT_INFO that the decoder reads. `Native` keeps the
// platform's own buffer for TdhFormatProperty.
struct TraceEventInfo {
    uint32_t DecodingSource = 0;
    uint16_t EventId = 0;
    uint32_t TopLevelPropertyCount = 0;
    std::vector<EventPropertyInfo> EventPropertyInfoArray;
    std::vector<uint8_t> Native;
};

// EVENT_MAP_INFO: the output text of every entry, in entry order. The
// decoder may shorten the texts; FormatProperty renders with them as they are.
struct EventMapInfo {
    std::vector<std::u16string> EntryOutputs;
    std::vector<uint8_t> Native;
};

// The trace data helper library.
class Tdh {
public:
    virtual ~Tdh() = default;

    // TdhGetEventInformation: with info == nullptr or *bufferSize too small,
    // returns ERROR_INSUFFICIENT_BUFFER (122) and the size needed.
    virtual uint32_t GetEventInformation(const EventRecord& event, TraceEventInfo* info,
                                         uint32_t* bufferSize) = 0;

    // TdhGetPropertySize / TdhGetProperty for a top-level property by name
    // (ArrayIndex 0xFFFFFFFF).
    virtual uint32_t GetPropertySize(const EventRecord& event, const std::u16string& name,
                                     uint32_t* size) = 0;
    virtual uint32_t GetProperty(const EventRecord& event, const std::u16string& name,
                                 uint32_t bufferSize, uint8_t* buffer) = 0;

    // TdhGetEventMapInformation: 122 with the size needed as above; 1168
    // (ERROR_NOT_FOUND) when the map does not exist.
    virtual uint32_t GetEventMapInformation(const EventRecord& event, const std::u16string& mapName,
                                            EventMapInfo* map, uint32_t* bufferSize) = 0;

    // TdhFormatProperty with the in-type and out-type of `property`, one of
    // the entries of info's EventPropertyInfoArray: *bufferSize in bytes; 122
    // with the size needed when the buffer is too small.
    virtual uint32_t FormatProperty(const TraceEventInfo& info, const EventMapInfo* map,
                                    uint32_t pointerSize, const EventPropertyInfo& property,
                                    uint16_t propertyLength, uint16_t userDataLength,
                                    const uint8_t* userData, uint32_t* bufferSize, char16_t* buffer,
                                    uint16_t* userDataConsumed) = 0;
};

}  // namespace dormex
