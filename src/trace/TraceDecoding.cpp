#include "trace/TraceDecoding.h"

#include <cerrno>

#include "common/Bytes.h"
#include "common/Memory.h"
#include "common/StatusCodes.h"
#include "common/Text.h"
#include "log/DebugLog.h"
#include "platform/FileSystem.h"
#include "platform/Interruption.h"
#include "platform/Tdh.h"
#include "platform/TraceProviders.h"
#include "trace/PowerTraceSession.h"
#include "trace/RundownLists.h"

namespace dormex {

namespace {

constexpr int32_t InvalidEventData = AsStatus(ErrorEvtInvalidEventData);
constexpr int32_t OpenFailedWithoutCode = AsStatus(ErrorGenFailure);
// Structures nest only a few levels in real manifests; deeper means a loop.
constexpr int MaxStructDepth = 32;
// Counts nested in structures multiply: a description can ask for far more
// elements than the data holds. Each property visited and each element decoded
// is a step, and an event has steps in proportion to its description and its
// data, far more than a real one takes: nearly every value takes data, and
// structures nest a few levels at most.
constexpr size_t DecodeStepsPerDataByte = 16;
constexpr size_t DecodeStepsPerProperty = 2;

enum EventId : uint16_t {
    PoFxRegistration = 320,
    PepDevice = 2,
    PepComponent = 3,
    PoDevice = 136,
};

// The value of a length or count property, read by its name into a 32-bit
// variable that starts at 0.
uint32_t ReadPropertyNumber(const EventRecord& event, const EventPropertyInfo& property, Tdh& tdh,
                            uint32_t* value)
{
    uint32_t size = 0;
    tdh.GetPropertySize(event, property.Name, &size);
    uint8_t bytes[4] = {};
    uint32_t status = tdh.GetProperty(event, property.Name, std::min<uint32_t>(size, 4), bytes);
    *value = ReadU32(bytes, 0);
    return status;
}

void InvalidData(DebugLog& log)
{
    log.WriteLog(LogLevel::Error, "Data read from Events is Invalid.", InvalidEventData);
}

}  // namespace

bool ScratchFile::Open()
{
    pending_.str({});
    written_ = false;
    if (stream_ != nullptr) {
        stream_->clear();  // the last reading may have stopped at the end of the file
        if (stream_->good()) {
            inUse_ = true;
            return true;
        }
        stream_.reset();
    }
    // A link planted where the scratch file goes is removed, never written through.
    files_.DeleteFileA(path_);
    stream_ = std::make_unique<std::fstream>(files_.NativePath(path_),
                                             std::ios::in | std::ios::out | std::ios::trunc);
    if (!stream_->is_open()) {
        stream_.reset();
        return false;
    }
    inUse_ = true;
    return true;
}

void ScratchFile::WritePending()
{
    // An event in use always has the file open.
    if (written_ || !inUse_) {
        return;
    }
    written_ = true;
    const std::string_view text = pending_.view();
    stream_->seekp(0);
    stream_->write(text.data(), static_cast<std::streamsize>(text.size()));
    stream_->flush();
}

std::istream* ScratchFile::ReadBack()
{
    if (!inUse_) {
        return nullptr;
    }
    WritePending();
    // Whatever an earlier, longer event left after this text is not read.
    std::string text(pending_.view().size(), '\0');
    if (stream_->good()) {
        stream_->seekg(0);
        stream_->read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<size_t>(stream_->gcount()));
    } else {
        text.clear();
    }
    readBack_.clear();
    readBack_.str(std::move(text));
    return &readBack_;
}

void ScratchFile::Close()
{
    WritePending();
    inUse_ = false;
}

void ScratchFile::Release()
{
    inUse_ = false;
    stream_.reset();
}

int32_t ProcessPowerTrace(std::string directory, RundownLists& lists, DebugLog& log,
                          EventTraceConsumer& consumer, Tdh& tdh, Interruption& interruption,
                          FileSystem& files)
{
    ScratchFile scratchFile(directory + "\\" + ScratchFileName, files);
    const std::string traceFile = TraceFilePath(directory);
    DecodeContext decoder{lists, log, tdh, scratchFile};

    // An interruption closes the trace from the callback, which ends the
    // replay at once (ProcessTrace then answers ErrorCancelled).
    TraceHandle handle = InvalidProcessTraceHandle;
    bool closed = false;
    auto closeTrace = [&] {
        if (handle != InvalidProcessTraceHandle && !closed) {
            consumer.CloseTrace(handle);
            closed = true;
        }
    };
    EventTraceLogfile logfile;
    logfile.LogFileName = Utf8ToUtf16(traceFile);
    logfile.ProcessTraceMode = ProcessTraceModeEventRecord;
    logfile.EventRecordCallback = [&](const EventRecord& event) {
        if (interruption.Requested()) {
            closeTrace();
        } else {
            OnTraceEvent(event, decoder);
        }
    };

    int32_t result = 0;
    if (!interruption.Requested()) {
        handle = consumer.OpenTraceW(logfile);
        if (handle == InvalidProcessTraceHandle) {
            uint32_t lastError = consumer.GetLastError();
            log.WriteLog(LogLevel::Error, "OpenTrace failed.", AsStatus(lastError));
            // A trace that cannot be read must not pass for an empty machine.
            result = lastError != 0 ? AsStatus(lastError) : OpenFailedWithoutCode;
        } else {
            log.WriteLog(LogLevel::Information,
                         "Number of buffers lost: " + std::to_string(logfile.BuffersLost), 0);
            uint32_t status = consumer.ProcessTrace(handle);
            if (status != 0 && status != ErrorCancelled) {
                log.WriteLog(LogLevel::Error, "ProcessTrace failed.", AsStatus(status));
                result = AsStatus(status);
            }
        }
    }

    scratchFile.Release();
    files.DeleteFileA(scratchFile.Path());
    closeTrace();
    files.DeleteFileA(traceFile);
    return result;
}

namespace {

// The event's information; false when it could not be had (logged).
bool ReadEventInformation(const EventRecord& event, DecodeContext& decoder, TraceEventInfo& info)
{
    DebugLog& log = decoder.Log;
    uint32_t size = 0;
    uint32_t status = decoder.TdhService.GetEventInformation(event, nullptr, &size);
    if (status == ErrorInsufficientBuffer) {
        status = decoder.TdhService.GetEventInformation(event, &info, &size);
    }
    if (status == ErrorOutOfMemory) {
        log.WriteLog(LogLevel::Error, "Cannot get memory for event.", AsStatus(status));
        log.WriteLog(LogLevel::Error, "Cannot get event information.", AsStatus(status));
        return false;
    }
    if (status != 0) {
        log.WriteLog(LogLevel::Error, "Retriving information from events failed.",
                     AsStatus(status));
        log.WriteLog(LogLevel::Error, "Cannot get event information.", AsStatus(status));
        return false;
    }
    return true;
}

// An event id means a rundown only from its own provider: Kernel-Power has
// events numbered 2 and 3 of its own.
bool IsRundownOfInterest(const Guid& provider, const TraceEventInfo& info)
{
    const uint16_t id = info.EventId;
    bool wanted = provider == KernelPowerProvider ? id == PoFxRegistration || id == PoDevice
                  : provider == KernelPepProvider ? id == PepDevice || id == PepComponent
                                                  : false;
    return info.DecodingSource == DecodingSourceXMLFile && wanted;
}

// Writes every top-level property of the event into the emptied scratch file;
// false when the file cannot be had or a property cannot be written.
bool WriteEventToFile(const EventRecord& event, const TraceEventInfo& info, DecodeContext& decoder)
{
    if (!decoder.File.Open()) {
        decoder.Log.WriteLog(LogLevel::Error, "Error In accessing File for device writes", errno);
        return false;
    }
    if (!WriteEventProperties(event, info, decoder)) {
        decoder.File.Close();
        return false;
    }
    return true;
}

void AddRundownRecord(uint16_t eventId, DecodeContext& decoder)
{
    std::istream* file = decoder.File.ReadBack();
    switch (eventId) {
    case PoFxRegistration:
        AddPoFxEntry(file, decoder.Lists, decoder.Log);
        break;
    case PepDevice:
        AddPepDeviceEntry(file, decoder.Lists, decoder.Log);
        break;
    case PepComponent:
        AddPepComponentEntry(file, decoder.Lists, decoder.Log);
        break;
    default:
        AddPoEntry(file, decoder.Lists, decoder.Log);
        break;
    }
}

// Writes the properties of one event from its user data, one property (with
// its elements and members) at a time.
class PropertyWriter {
public:
    PropertyWriter(const EventRecord& event, const TraceEventInfo& info, DecodeContext& decoder)
        : event_(event),
          info_(info),
          properties_(info.EventPropertyInfoArray),
          pointerSize_((event.Flags & EventHeaderFlag32BitHeader) != 0 ? 4 : 8),
          end_(event.UserDataLength),
          steps_(DecodeStepsPerProperty * properties_.size() +
                 DecodeStepsPerDataByte * event.UserDataLength),
          decoder_(decoder),
          log_(decoder.Log),
          tdh_(decoder.TdhService)
    {
    }

    std::optional<size_t> Write(size_t index, size_t position, int depth);

private:
    enum class MapLookup { Found, None, Failed };

    bool Step();
    std::optional<uint16_t> Length(const EventPropertyInfo& property);
    uint16_t Count(const EventPropertyInfo& property, uint32_t& status);
    std::optional<size_t> WriteMembers(const EventPropertyInfo& property, size_t position,
                                       int depth, uint32_t countStatus);
    MapLookup LookUpMap(const EventPropertyInfo& property, EventMapInfo& map);
    std::optional<size_t> WriteValue(const EventPropertyInfo& property, uint16_t length,
                                     size_t position, std::vector<char16_t>& formatted);

    const EventRecord& event_;
    const TraceEventInfo& info_;
    const std::vector<EventPropertyInfo>& properties_;
    uint32_t pointerSize_;
    size_t end_;
    size_t steps_;  // left for the rest of the event
    DecodeContext& decoder_;
    DebugLog& log_;
    Tdh& tdh_;
};

std::optional<size_t> PropertyWriter::Write(size_t index, size_t position, int depth)
{
    if (index >= properties_.size() || depth > MaxStructDepth || position > end_) {
        InvalidData(log_);
        return std::nullopt;
    }
    if (!Step()) {
        return std::nullopt;
    }
    const EventPropertyInfo& property = properties_[index];
    std::optional<uint16_t> length = Length(property);
    if (!length) {
        return std::nullopt;
    }
    uint32_t countStatus = 0;
    const uint16_t count = Count(property, countStatus);

    std::vector<char16_t> formatted;
    for (uint16_t element = 0; element < count; ++element) {
        if (!Step()) {
            return std::nullopt;
        }
        std::optional<size_t> next = (property.Flags & PropertyStruct) != 0
                                         ? WriteMembers(property, position, depth, countStatus)
                                         : WriteValue(property, *length, position, formatted);
        if (!next) {
            return std::nullopt;
        }
        position = *next;
    }
    return position;
}

// Spends one step of the event; false (logged) when there is none left, as
// when a property's extent is not in the data.
bool PropertyWriter::Step()
{
    if (steps_ == 0) {
        InvalidData(log_);
        log_.WriteLog(LogLevel::Error, "Cannot get property length of Event.", InvalidEventData);
        return false;
    }
    --steps_;
    return true;
}

// The length of one value in bytes, 0 when the formatter finds its end.
std::optional<uint16_t> PropertyWriter::Length(const EventPropertyInfo& property)
{
    if ((property.Flags & PropertyParamLength) != 0) {
        if (property.Length >= properties_.size()) {
            InvalidData(log_);
            return std::nullopt;
        }
        uint32_t value = 0;
        uint32_t status = ReadPropertyNumber(event_, properties_[property.Length], tdh_, &value);
        if (status != 0) {
            log_.WriteLog(LogLevel::Error, "Cannot get property length of Event.",
                          AsStatus(status));
            return std::nullopt;
        }
        return static_cast<uint16_t>(value);
    }
    if (property.Length > 0) {
        return property.Length;
    }
    if (property.InType == TdhInTypeBinary && property.OutType == TdhOutTypeIpv6) {
        return 16;
    }
    if (property.InType == TdhInTypeUnicodeString || property.InType == TdhInTypeAnsiString ||
        (property.Flags & PropertyStruct) != 0) {
        return 0;
    }
    InvalidData(log_);
    log_.WriteLog(LogLevel::Error, "Cannot get property length of Event.", InvalidEventData);
    return std::nullopt;
}

// The number of elements; a count property that cannot be read gives none,
// and its status is kept for the structure-member message.
uint16_t PropertyWriter::Count(const EventPropertyInfo& property, uint32_t& status)
{
    if ((property.Flags & PropertyParamCount) == 0) {
        return property.Count;
    }
    uint32_t value = 0;
    if (property.Count < properties_.size()) {
        status = ReadPropertyNumber(event_, properties_[property.Count], tdh_, &value);
    } else {
        status = ErrorEvtInvalidEventData;
    }
    return status == 0 ? static_cast<uint16_t>(value) : 0;
}

std::optional<size_t> PropertyWriter::WriteMembers(const EventPropertyInfo& property,
                                                   size_t position, int depth, uint32_t countStatus)
{
    size_t first = property.StructStartIndex;
    for (size_t member = first; member < first + property.NumOfStructMembers; ++member) {
        auto next = Write(member, position, depth + 1);
        if (!next) {
            log_.WriteLog(LogLevel::Error, "Printing members of event structure failed.",
                          AsStatus(countStatus));
            return std::nullopt;
        }
        position = *next;
    }
    return position;
}

PropertyWriter::MapLookup PropertyWriter::LookUpMap(const EventPropertyInfo& property,
                                                    EventMapInfo& map)
{
    uint32_t mapSize = 0;
    uint32_t status = tdh_.GetEventMapInformation(event_, property.MapName, nullptr, &mapSize);
    if (status == ErrorInsufficientBuffer) {
        status = tdh_.GetEventMapInformation(event_, property.MapName, &map, &mapSize);
    }
    if (status == ErrorOutOfMemory) {
        log_.WriteLog(LogLevel::Error, "Cannot allocate memory for events.", AsStatus(status));
        log_.WriteLog(LogLevel::Error, "Cannot access Map value for event.", AsStatus(status));
        return MapLookup::Failed;
    }
    if (status == ErrorNotFound) {
        return MapLookup::None;
    }
    if (status != 0) {
        log_.WriteLog(LogLevel::Error, "Cannot get event map information.", AsStatus(status));
        log_.WriteLog(LogLevel::Error, "Cannot access Map value for event.", AsStatus(status));
        return MapLookup::Failed;
    }
    if (info_.DecodingSource == DecodingSourceXMLFile) {
        // Map texts from a manifest end in a blank.
        for (std::u16string& text : map.EntryOutputs) {
            if (!text.empty()) {
                text.pop_back();
            }
        }
    }
    return MapLookup::Found;
}

// Formats the value at `position` into `formatted`, grown as the formatter
// asks, and writes its line; the position after it, or nothing.
std::optional<size_t> PropertyWriter::WriteValue(const EventPropertyInfo& property, uint16_t length,
                                                 size_t position, std::vector<char16_t>& formatted)
{
    EventMapInfo map;
    MapLookup lookup = LookUpMap(property, map);
    if (lookup == MapLookup::Failed) {
        return std::nullopt;
    }
    const EventMapInfo* mapInfo = lookup == MapLookup::Found ? &map : nullptr;

    const uint16_t remaining = static_cast<uint16_t>(end_ - position);
    const uint8_t* data = event_.UserData != nullptr ? event_.UserData + position : nullptr;
    uint32_t bufferSize = static_cast<uint32_t>(formatted.size() * sizeof(char16_t));
    uint16_t consumed = 0;
    uint32_t status = tdh_.FormatProperty(info_, mapInfo, pointerSize_, property, length, remaining,
                                          data, &bufferSize, formatted.data(), &consumed);
    if (status == ErrorInsufficientBuffer) {
        auto larger = TryAllocate<char16_t>((size_t{bufferSize} + 1) / 2);
        if (!larger) {
            log_.WriteLog(LogLevel::Error, "Failed to allocate memory for formatted data of events",
                          AsStatus(ErrorOutOfMemory));
            return std::nullopt;
        }
        formatted = std::move(*larger);
        bufferSize = static_cast<uint32_t>(formatted.size() * sizeof(char16_t));
        status = tdh_.FormatProperty(info_, mapInfo, pointerSize_, property, length, remaining,
                                     data, &bufferSize, formatted.data(), &consumed);
    }
    if (status != 0 || consumed > remaining) {
        return std::nullopt;
    }
    std::u16string_view text(formatted.data(), formatted.size());
    text = text.substr(0, text.find(u'\0'));
    if (std::ostream* file = decoder_.File.Stream()) {
        WriteDeviceFileLine(*file, Utf16ToUtf8(property.Name), Utf16ToUtf8(text));
    }
    return position + consumed;
}

}  // namespace

bool WriteEventProperties(const EventRecord& event, const TraceEventInfo& info,
                          DecodeContext& decoder)
{
    PropertyWriter writer(event, info, decoder);
    size_t position = 0;
    for (uint32_t i = 0; i < info.TopLevelPropertyCount; ++i) {
        std::optional<size_t> next = writer.Write(i, position, 0);
        if (!next) {
            return false;
        }
        position = *next;
    }
    return true;
}

bool OnTraceEvent(const EventRecord& event, DecodeContext& decoder)
{
    if (event.ProviderId == EventTraceGuid && event.Opcode == 0) {
        return true;  // the header event of the file
    }
    TraceEventInfo info;
    if (!ReadEventInformation(event, decoder, info)) {
        return false;
    }
    if (!IsRundownOfInterest(event.ProviderId, info)) {
        return true;
    }
    if (!WriteEventToFile(event, info, decoder)) {
        return false;
    }
    AddRundownRecord(info.EventId, decoder);
    decoder.File.Close();
    return true;
}

}  // namespace dormex
