// <windows.h> comes before every other Windows header.
#include <windows.h>

#include <evntcons.h>
#include <evntrace.h>
#include <tdh.h>

#include <cstring>
#include <vector>

#include "common/Memory.h"
#include "common/Text.h"
#include "platform/win32/Win32Trace.h"

// Exported by tdh.dll but not declared by every SDK's tdh.h (mingw-w64's
// lacks it); the build defines DORMEX_TDH_DECLARES_FORMAT_PROPERTY where it is.
#ifndef DORMEX_TDH_DECLARES_FORMAT_PROPERTY
extern "C" ULONG __stdcall TdhFormatProperty(PTRACE_EVENT_INFO EventInfo, PEVENT_MAP_INFO MapInfo,
                                             ULONG PointerSize, USHORT PropertyInType,
                                             USHORT PropertyOutType, USHORT PropertyLength,
                                             USHORT UserDataLength, PBYTE UserData,
                                             PULONG BufferSize, PWCHAR Buffer,
                                             PUSHORT UserDataConsumed);
#endif

namespace dormex {

namespace {

static_assert(sizeof(EVENT_TRACE_PROPERTIES) == trace_properties::StructureSize,
              "the session block puts the names right after the structure");
static_assert(offsetof(EVENT_TRACE_PROPERTIES, Wnode.BufferSize) ==
              trace_properties::WnodeBufferSize);
static_assert(offsetof(EVENT_TRACE_PROPERTIES, Wnode.Flags) == trace_properties::WnodeFlags);
static_assert(offsetof(EVENT_TRACE_PROPERTIES, BufferSize) == trace_properties::BufferSize);
static_assert(offsetof(EVENT_TRACE_PROPERTIES, MinimumBuffers) == trace_properties::MinimumBuffers);
static_assert(offsetof(EVENT_TRACE_PROPERTIES, MaximumBuffers) == trace_properties::MaximumBuffers);
static_assert(offsetof(EVENT_TRACE_PROPERTIES, MaximumFileSize) ==
              trace_properties::MaximumFileSize);
static_assert(offsetof(EVENT_TRACE_PROPERTIES, LogFileMode) == trace_properties::LogFileMode);
static_assert(offsetof(EVENT_TRACE_PROPERTIES, LogFileNameOffset) ==
              trace_properties::LogFileNameOffset);
static_assert(offsetof(EVENT_TRACE_PROPERTIES, LoggerNameOffset) ==
              trace_properties::LoggerNameOffset);

GUID ToGuid(const Guid& guid)
{
    GUID native{};
    native.Data1 = guid.Data1;
    native.Data2 = guid.Data2;
    native.Data3 = guid.Data3;
    std::memcpy(native.Data4, guid.Data4.data(), 8);
    return native;
}

Guid FromGuid(const GUID& native)
{
    Guid guid;
    guid.Data1 = native.Data1;
    guid.Data2 = native.Data2;
    guid.Data3 = native.Data3;
    std::memcpy(guid.Data4.data(), native.Data4, 8);
    return guid;
}

const wchar_t* Wide(const std::u16string& text)
{
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

PEVENT_RECORD NativeEvent(const EventRecord& event)
{
    return static_cast<PEVENT_RECORD>(const_cast<void*>(event.Native));
}

// The zero-terminated wide text at `offset` of a TDH buffer; offset 0 means
// there is none.
std::u16string TextAt(const std::vector<uint8_t>& buffer, ULONG offset)
{
    return offset != 0 ? Utf16LeTextAt(buffer, offset) : std::u16string();
}

using OpenedTrace = Win32EventTraceConsumer::OpenedTrace;

void WINAPI DeliverEvent(PEVENT_RECORD native)
{
    auto* trace = static_cast<OpenedTrace*>(native->UserContext);
    if (trace == nullptr || !trace->Callback || trace->CloseRequested) {
        return;
    }
    EventRecord event;
    event.ProviderId = FromGuid(native->EventHeader.ProviderId);
    event.Id = native->EventHeader.EventDescriptor.Id;
    event.Opcode = native->EventHeader.EventDescriptor.Opcode;
    event.Flags = native->EventHeader.Flags;
    event.UserData = static_cast<const uint8_t*>(native->UserData);
    event.UserDataLength = native->UserDataLength;
    event.Native = native;
    trace->Callback(event);
}

// Called after each buffer: FALSE ends ProcessTrace with ERROR_CANCELLED.
ULONG WINAPI ContinueReading(PEVENT_TRACE_LOGFILEW logfile)
{
    const auto* trace = static_cast<const OpenedTrace*>(logfile->Context);
    return trace != nullptr && trace->CloseRequested ? FALSE : TRUE;
}

PROPERTY_DATA_DESCRIPTOR Descriptor(const std::u16string& name)
{
    PROPERTY_DATA_DESCRIPTOR descriptor{};
    descriptor.PropertyName = reinterpret_cast<ULONGLONG>(name.c_str());
    descriptor.ArrayIndex = ULONG_MAX;
    return descriptor;
}

// The caller's EVENT_TRACE_PROPERTIES block, or none when it has none.
PEVENT_TRACE_PROPERTIES PropertiesBlock(std::span<uint8_t> properties)
{
    return properties.empty() ? nullptr
                              : reinterpret_cast<PEVENT_TRACE_PROPERTIES>(properties.data());
}

}  // namespace

uint32_t Win32EventTraceController::StartTraceW(TraceHandle* handle,
                                                const std::u16string& sessionName,
                                                std::span<uint8_t> properties)
{
    TRACEHANDLE session = 0;
    ULONG status = ::StartTraceW(&session, Wide(sessionName), PropertiesBlock(properties));
    *handle = session;
    return status;
}

uint32_t Win32EventTraceController::EnableTraceEx2(TraceHandle handle, const Guid& provider,
                                                   uint32_t controlCode, uint8_t level,
                                                   uint64_t matchAnyKeyword,
                                                   uint64_t matchAllKeyword, uint32_t timeout)
{
    GUID native = ToGuid(provider);
    return ::EnableTraceEx2(handle, &native, controlCode, level, matchAnyKeyword, matchAllKeyword,
                            timeout, nullptr);
}

uint32_t Win32EventTraceController::StopTraceW(TraceHandle handle,
                                               const std::u16string& sessionName,
                                               std::span<uint8_t> properties)
{
    return ::StopTraceW(handle, Wide(sessionName), PropertiesBlock(properties));
}

uint32_t Win32EventTraceController::ControlTraceW(TraceHandle handle,
                                                  const std::u16string& sessionName,
                                                  std::span<uint8_t> properties,
                                                  uint32_t controlCode)
{
    return ::ControlTraceW(handle, Wide(sessionName), PropertiesBlock(properties), controlCode);
}

TraceHandle Win32EventTraceConsumer::OpenTraceW(EventTraceLogfile& logfile)
{
    std::u16string name = logfile.LogFileName;
    EVENT_TRACE_LOGFILEW native{};
    native.LogFileName = reinterpret_cast<LPWSTR>(name.data());
    native.ProcessTraceMode = logfile.ProcessTraceMode;
    native.EventRecordCallback = DeliverEvent;
    native.BufferCallback = ContinueReading;
    auto trace = std::make_unique<OpenedTrace>();
    trace->Callback = logfile.EventRecordCallback;
    native.Context = trace.get();
    TRACEHANDLE handle = ::OpenTraceW(&native);
    if (handle == INVALID_PROCESSTRACE_HANDLE) {
        lastError_ = ::GetLastError();
        return InvalidProcessTraceHandle;
    }
    logfile.BuffersLost = native.LogfileHeader.BuffersLost;
    traces_[handle] = std::move(trace);
    return handle;
}

uint32_t Win32EventTraceConsumer::ProcessTrace(TraceHandle handle)
{
    auto opened = traces_.find(handle);
    if (opened == traces_.end()) {
        return ERROR_INVALID_HANDLE;
    }
    OpenedTrace& trace = *opened->second;
    TRACEHANDLE handles[1] = {handle};
    trace.Processing = true;
    ULONG status = ::ProcessTrace(handles, 1, nullptr, nullptr);
    trace.Processing = false;
    if (trace.CloseRequested) {
        CloseTrace(handle);
    }
    return status;
}

uint32_t Win32EventTraceConsumer::CloseTrace(TraceHandle handle)
{
    auto opened = traces_.find(handle);
    if (opened != traces_.end() && opened->second->Processing) {
        opened->second->CloseRequested = true;
        return ERROR_SUCCESS;
    }
    ULONG status = ::CloseTrace(handle);
    if (opened != traces_.end()) {
        traces_.erase(opened);
    }
    return status;
}

uint32_t Win32Tdh::GetEventInformation(const EventRecord& event, TraceEventInfo* info,
                                       uint32_t* bufferSize)
{
    ULONG size = info != nullptr ? *bufferSize : 0;
    auto allocated = TryAllocate<uint8_t>(size);
    if (!allocated) {
        return ERROR_OUTOFMEMORY;
    }
    std::vector<uint8_t>& buffer = *allocated;
    ULONG status = ::TdhGetEventInformation(
        NativeEvent(event), 0, nullptr,
        size != 0 ? reinterpret_cast<PTRACE_EVENT_INFO>(buffer.data()) : nullptr, &size);
    *bufferSize = size;
    if (status != ERROR_SUCCESS || info == nullptr) {
        return status;
    }
    const auto* native = reinterpret_cast<const TRACE_EVENT_INFO*>(buffer.data());
    info->DecodingSource = native->DecodingSource;
    info->EventId = native->EventDescriptor.Id;
    info->TopLevelPropertyCount = native->TopLevelPropertyCount;
    info->EventPropertyInfoArray.clear();
    for (ULONG i = 0; i < native->PropertyCount; ++i) {
        const EVENT_PROPERTY_INFO& property = native->EventPropertyInfoArray[i];
        EventPropertyInfo entry;
        entry.Flags = property.Flags;
        entry.Name = TextAt(buffer, property.NameOffset);
        if ((property.Flags & ::PropertyStruct) != 0) {
            entry.StructStartIndex = property.structType.StructStartIndex;
            entry.NumOfStructMembers = property.structType.NumOfStructMembers;
        } else {
            entry.InType = property.nonStructType.InType;
            entry.OutType = property.nonStructType.OutType;
            entry.MapName = TextAt(buffer, property.nonStructType.MapNameOffset);
        }
        entry.Count = property.count;
        entry.Length = property.length;
        info->EventPropertyInfoArray.push_back(std::move(entry));
    }
    info->Native = std::move(buffer);
    return ERROR_SUCCESS;
}

uint32_t Win32Tdh::GetPropertySize(const EventRecord& event, const std::u16string& name,
                                   uint32_t* size)
{
    PROPERTY_DATA_DESCRIPTOR descriptor = Descriptor(name);
    ULONG propertySize = 0;
    ULONG status =
        ::TdhGetPropertySize(NativeEvent(event), 0, nullptr, 1, &descriptor, &propertySize);
    *size = propertySize;
    return status;
}

uint32_t Win32Tdh::GetProperty(const EventRecord& event, const std::u16string& name,
                               uint32_t bufferSize, uint8_t* buffer)
{
    PROPERTY_DATA_DESCRIPTOR descriptor = Descriptor(name);
    return ::TdhGetProperty(NativeEvent(event), 0, nullptr, 1, &descriptor, bufferSize, buffer);
}

uint32_t Win32Tdh::GetEventMapInformation(const EventRecord& event, const std::u16string& mapName,
                                          EventMapInfo* map, uint32_t* bufferSize)
{
    if (mapName.empty()) {
        return ERROR_NOT_FOUND;
    }
    std::u16string name = mapName;
    ULONG size = map != nullptr ? *bufferSize : 0;
    auto allocated = TryAllocate<uint8_t>(size);
    if (!allocated) {
        return ERROR_OUTOFMEMORY;
    }
    std::vector<uint8_t>& buffer = *allocated;
    ULONG status = ::TdhGetEventMapInformation(
        NativeEvent(event), reinterpret_cast<LPWSTR>(name.data()),
        size != 0 ? reinterpret_cast<PEVENT_MAP_INFO>(buffer.data()) : nullptr, &size);
    *bufferSize = size;
    if (status != ERROR_SUCCESS || map == nullptr) {
        return status;
    }
    const auto* native = reinterpret_cast<const EVENT_MAP_INFO*>(buffer.data());
    map->EntryOutputs.clear();
    for (ULONG i = 0; i < native->EntryCount; ++i) {
        map->EntryOutputs.push_back(TextAt(buffer, native->MapEntryArray[i].OutputOffset));
    }
    map->Native = std::move(buffer);
    return ERROR_SUCCESS;
}

uint32_t Win32Tdh::FormatProperty(const TraceEventInfo& info, const EventMapInfo* map,
                                  uint32_t pointerSize, const EventPropertyInfo& property,
                                  uint16_t propertyLength, uint16_t userDataLength,
                                  const uint8_t* userData, uint32_t* bufferSize, char16_t* buffer,
                                  uint16_t* userDataConsumed)
{
    // The map as the platform gave it, with the entry texts as the decoder
    // left them (each no longer than before).
    std::vector<uint8_t> nativeMap;
    if (map != nullptr) {
        nativeMap = map->Native;
        auto* entries = reinterpret_cast<EVENT_MAP_INFO*>(nativeMap.data());
        for (ULONG i = 0; i < entries->EntryCount && i < map->EntryOutputs.size(); ++i) {
            WriteUtf16Le(nativeMap, entries->MapEntryArray[i].OutputOffset,
                         map->EntryOutputs[i] + u'\0');
        }
    }
    ULONG size = *bufferSize;
    USHORT consumed = 0;
    ULONG status = ::TdhFormatProperty(
        reinterpret_cast<PTRACE_EVENT_INFO>(const_cast<uint8_t*>(info.Native.data())),
        map != nullptr ? reinterpret_cast<PEVENT_MAP_INFO>(nativeMap.data()) : nullptr, pointerSize,
        property.InType, property.OutType, propertyLength, userDataLength,
        const_cast<PBYTE>(userData), &size, reinterpret_cast<PWCHAR>(buffer), &consumed);
    *bufferSize = size;
    *userDataConsumed = consumed;
    return status;
}

}  // namespace dormex
