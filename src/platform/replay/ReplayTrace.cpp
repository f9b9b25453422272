#include "platform/replay/ReplayTrace.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/Bytes.h"
#include "common/StatusCodes.h"
#include "common/Text.h"
#include "platform/TraceProviders.h"
#include "platform/snapshot/Answers.h"

namespace dormex {

namespace {

constexpr TraceHandle SessionHandle = 0x5D0E;
constexpr const char* TraceFileHeader = "dormex replayed trace";
// What TRACE_EVENT_INFO takes: the fixed part, then one entry per property
// and the property names.
constexpr uint32_t TraceEventInfoFixedSize = 112;
constexpr uint32_t EventPropertyInfoSize = 24;

// Whether the folder of a native file path exists, as ETW asks of a log file.
bool FolderExists(const std::string& nativePath)
{
    std::error_code error;
    std::filesystem::path folder = std::filesystem::path(nativePath).parent_path();
    return folder.empty() || std::filesystem::is_directory(folder, error);
}

const ReplayEvent* EventOf(const EventRecord& event)
{
    return static_cast<const ReplayEvent*>(event.Native);
}

std::optional<SnapshotEventProperties::Property> FindProperty(const ReplayEvent& event,
                                                              const std::u16string& name)
{
    for (const auto property : event.Source->Properties) {
        if (Utf8ToUtf16(property.first) == name) {
            return property;
        }
    }
    return std::nullopt;
}

// A zero-terminated string cannot hold a zero unit: its rest would become the
// next property's value. A value with one travels as a counted string of its
// units instead, as a manifest's length attribute describes one; 0 for a
// zero-terminated string.
uint16_t CountedLength(const std::u16string& units)
{
    return units.find(u'\0') == std::u16string::npos
               ? 0
               : static_cast<uint16_t>(std::min<size_t>(units.size(), 0xFFFF));
}

// A property's value as the event's user data holds it.
std::vector<uint8_t> ValueBytes(std::string_view utf8)
{
    std::u16string units = Utf8ToUtf16(utf8);
    if (CountedLength(units) == 0) {
        units += u'\0';
    }
    return EncodeUtf16Le(units);
}

}  // namespace

uint32_t ReplayEventTraceController::StartTraceW(TraceHandle* handle, const std::u16string&,
                                                 std::span<uint8_t> properties)
{
    if (std::optional<uint32_t> status = StartTraceFault(snapshot_.Faults, startCalls_++)) {
        // A session "already there" is one an earlier run left, until stopped.
        leftoverSession_ = *status == ErrorAlreadyExists;
        if (*status != 0) {
            return *status;
        }
    }
    if (running_ || leftoverSession_) {
        return ErrorAlreadyExists;
    }
    if (properties.size() < trace_properties::StructureSize) {
        return ErrorInvalidParameter;
    }
    uint32_t nameOffset = ReadU32(properties, trace_properties::LogFileNameOffset);
    if (nameOffset >= properties.size()) {
        return ErrorInvalidParameter;
    }
    traceFile_ = files_.NativePath(Utf16ToUtf8(Utf16LeTextAt(properties, nameOffset)));
    if (!FolderExists(traceFile_)) {
        return ErrorPathNotFound;
    }
    std::error_code ignored;
    std::filesystem::remove(traceFile_, ignored);  // a planted link, never written through
    std::ofstream file(traceFile_, std::ios::trunc);
    if (!file.is_open()) {
        return ErrorPathNotFound;
    }
    file << TraceFileHeader << "\n";
    running_ = true;
    otherProvidersEntered_ = false;
    *handle = SessionHandle;
    return 0;
}

uint32_t ReplayEventTraceController::EnableTraceEx2(TraceHandle handle, const Guid& provider,
                                                    uint32_t controlCode, uint8_t, uint64_t,
                                                    uint64_t, uint32_t)
{
    ++enableCalls_;
    auto fault = snapshot_.Faults.EnableTraceEx2.find(enableCalls_);
    if (fault != snapshot_.Faults.EnableTraceEx2.end()) {
        return fault->second;
    }
    if (!running_ || handle != SessionHandle) {
        return ErrorInvalidHandle;
    }
    if (controlCode != ControlCodeCaptureState) {
        return 0;
    }
    std::ofstream file(traceFile_, std::ios::app);
    if (!file.is_open()) {
        return ErrorPathNotFound;
    }
    for (size_t i = 0; i < snapshot_.Events.size(); ++i) {
        const Guid& eventProvider = snapshot_.Events[i].Provider;
        bool kernel = eventProvider == KernelPowerProvider || eventProvider == KernelPepProvider;
        if (eventProvider == provider || (!kernel && !otherProvidersEntered_)) {
            file << i << "\n";
        }
    }
    otherProvidersEntered_ = true;
    return 0;
}

uint32_t ReplayEventTraceController::StopTraceW(TraceHandle handle, const std::u16string&,
                                                std::span<uint8_t>)
{
    if (snapshot_.Faults.StopTraceW) {
        return *snapshot_.Faults.StopTraceW;
    }
    if (!running_ || handle != SessionHandle) {
        return ErrorWmiInstanceNotFound;
    }
    running_ = false;
    return 0;
}

uint32_t ReplayEventTraceController::ControlTraceW(TraceHandle, const std::u16string&,
                                                   std::span<uint8_t>, uint32_t controlCode)
{
    // 0 is success, as for every call: the session is stopped.
    const std::optional<uint32_t>& fault = snapshot_.Faults.ControlTraceW;
    if (fault && *fault != 0) {
        return *fault;
    }
    if (controlCode != EventTraceControlStop) {
        return ErrorNotSupported;
    }
    if (!running_ && !leftoverSession_ && !fault) {
        return ErrorWmiInstanceNotFound;
    }
    running_ = false;
    leftoverSession_ = false;
    return 0;
}

TraceHandle ReplayEventTraceConsumer::OpenTraceW(EventTraceLogfile& logfile)
{
    if (snapshot_.Faults.OpenTraceW) {
        lastError_ = *snapshot_.Faults.OpenTraceW;
        return InvalidProcessTraceHandle;
    }
    const std::string path = files_.NativePath(Utf16ToUtf8(logfile.LogFileName));
    std::ifstream file(path);
    if (!file.is_open()) {
        lastError_ = FolderExists(path) ? ErrorFileNotFound : ErrorPathNotFound;
        return InvalidProcessTraceHandle;
    }
    std::string line;
    if (!std::getline(file, line) || line != TraceFileHeader) {
        lastError_ = ErrorInvalidData;
        return InvalidProcessTraceHandle;
    }
    OpenedTrace trace;
    while (std::getline(file, line)) {
        size_t index = 0;
        std::istringstream number(line);
        if (!(number >> index) || index >= snapshot_.Events.size()) {
            lastError_ = ErrorInvalidData;
            return InvalidProcessTraceHandle;
        }
        trace.Events.push_back(index);
    }
    trace.Callback = logfile.EventRecordCallback;
    logfile.BuffersLost = 0;
    TraceHandle handle = nextHandle_++;
    traces_[handle] = std::move(trace);
    return handle;
}

uint32_t ReplayEventTraceConsumer::ProcessTrace(TraceHandle handle)
{
    auto opened = traces_.find(handle);
    if (opened == traces_.end()) {
        return ErrorInvalidHandle;
    }
    if (snapshot_.Faults.ProcessTrace) {
        return *snapshot_.Faults.ProcessTrace;
    }
    interruption_.Reached("ProcessTrace");
    OpenedTrace& trace = opened->second;
    if (!trace.Callback) {
        return 0;
    }
    EventRecord header;
    header.ProviderId = EventTraceGuid;
    trace.Callback(header);
    for (size_t index : trace.Events) {
        if (trace.Closed) {
            return ErrorCancelled;
        }
        const SnapshotEvent& source = snapshot_.Events[index];
        ReplayEvent replayed{&source, {}};
        for (const auto property : source.Properties) {
            std::vector<uint8_t> bytes = ValueBytes(property.second);
            replayed.UserData.insert(replayed.UserData.end(), bytes.begin(), bytes.end());
        }
        EventRecord record = EventRecordOf(source);
        record.UserData = replayed.UserData.data();
        record.UserDataLength =
            static_cast<uint16_t>(std::min<size_t>(replayed.UserData.size(), 0xFFFF));
        record.Native = &replayed;
        trace.Callback(record);
    }
    return trace.Closed ? ErrorCancelled : 0;
}

uint32_t ReplayEventTraceConsumer::CloseTrace(TraceHandle handle)
{
    auto opened = traces_.find(handle);
    if (opened == traces_.end()) {
        return ErrorInvalidHandle;
    }
    opened->second.Closed = true;
    return 0;
}

uint32_t ReplayTdh::GetEventInformation(const EventRecord& event, TraceEventInfo* info,
                                        uint32_t* bufferSize)
{
    const ReplayEvent* replayed = EventOf(event);
    if (replayed == nullptr) {
        return ErrorNotFound;
    }
    const SnapshotEvent& source = *replayed->Source;
    if (source.InformationFault) {
        return *source.InformationFault;
    }
    uint32_t needed = TraceEventInfoFixedSize;
    for (const auto property : source.Properties) {
        needed += EventPropertyInfoSize + static_cast<uint32_t>(2 * (property.first.size() + 1));
    }
    if (info == nullptr || *bufferSize < needed) {
        *bufferSize = needed;
        return ErrorInsufficientBuffer;
    }
    info->DecodingSource = source.DecodingSource;
    info->EventId = source.Id;
    info->TopLevelPropertyCount = static_cast<uint32_t>(source.Properties.size());
    info->EventPropertyInfoArray.clear();
    for (const auto property : source.Properties) {
        EventPropertyInfo entry;
        entry.Name = Utf8ToUtf16(property.first);
        entry.InType = TdhInTypeUnicodeString;
        entry.OutType = 1;  // TDH_OUTTYPE_STRING
        entry.Count = 1;
        entry.Length = CountedLength(Utf8ToUtf16(property.second));
        info->EventPropertyInfoArray.push_back(std::move(entry));
    }
    return 0;
}

uint32_t ReplayTdh::GetPropertySize(const EventRecord& event, const std::u16string& name,
                                    uint32_t* size)
{
    const ReplayEvent* replayed = EventOf(event);
    const auto property = replayed != nullptr ? FindProperty(*replayed, name) : std::nullopt;
    if (!property) {
        return ErrorNotFound;
    }
    *size = static_cast<uint32_t>(WideTextBytes(property->second).size());
    return 0;
}

uint32_t ReplayTdh::GetProperty(const EventRecord& event, const std::u16string& name,
                                uint32_t bufferSize, uint8_t* buffer)
{
    const ReplayEvent* replayed = EventOf(event);
    const auto property = replayed != nullptr ? FindProperty(*replayed, name) : std::nullopt;
    if (!property) {
        return ErrorNotFound;
    }
    std::vector<uint8_t> bytes = WideTextBytes(property->second);
    if (bufferSize < bytes.size()) {
        return ErrorInsufficientBuffer;
    }
    std::memcpy(buffer, bytes.data(), bytes.size());
    return 0;
}

uint32_t ReplayTdh::GetEventMapInformation(const EventRecord&, const std::u16string&, EventMapInfo*,
                                           uint32_t*)
{
    return ErrorNotFound;
}

uint32_t ReplayTdh::FormatProperty(const TraceEventInfo&, const EventMapInfo*, uint32_t,
                                   const EventPropertyInfo& property, uint16_t propertyLength,
                                   uint16_t userDataLength, const uint8_t* userData,
                                   uint32_t* bufferSize, char16_t* buffer,
                                   uint16_t* userDataConsumed)
{
    if (property.InType != TdhInTypeUnicodeString) {
        return ErrorNotSupported;
    }
    // A string without a length ends at its terminator; one with a length is
    // that many characters, shown up to a zero unit among them.
    const size_t limit = userDataLength / 2;
    if (propertyLength > limit) {
        return ErrorEvtInvalidEventData;
    }
    const size_t scanned = propertyLength == 0 ? limit : propertyLength;
    std::u16string text = Utf16LeTextAt({userData, 2 * scanned}, 0);
    size_t chars = text.size();
    if (propertyLength == 0 && chars == limit) {
        return ErrorEvtInvalidEventData;
    }
    uint32_t needed = static_cast<uint32_t>(2 * (chars + 1));
    if (buffer == nullptr || *bufferSize < needed) {
        *bufferSize = needed;
        return ErrorInsufficientBuffer;
    }
    std::copy(text.begin(), text.end(), buffer);
    buffer[chars] = 0;
    *userDataConsumed = static_cast<uint16_t>(propertyLength == 0 ? 2 * (chars + 1) : 2 * scanned);
    return 0;
}

}  // namespace dormex
