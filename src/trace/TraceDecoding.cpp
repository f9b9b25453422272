#include "trace/TraceDecoding.h"

#include <cerrno>
#include <filesystem>

#include "log/DebugLog.h"
#include "common/Bytes.h"
#include "common/Memory.h"
#include "common/Text.h"
#include "platform/FileSystem.h"
#include "platform/Tdh.h"
#include "platform/TraceProviders.h"
#include "common/StatusCodes.h"
#include "trace/PowerTraceSession.h"
#include "trace/RundownLists.h"

namespace dormex {

namespace {

constexpr int32_t InvalidEventData = AsStatus(ErrorEvtInvalidEventData);
constexpr int32_t OpenFailedWithoutCode = AsStatus(ErrorGenFailure);
// Structures nest only a few levels in real manifests; deeper means a loop.
constexpr int MaxStructDepth = 32;

enum EventId : uint16_t {
    PoFxRegistration = 320,
    PepDevice = 2,
    PepComponent = 3,
    PoDevice = 136,
};

// The value of a length or count property, read by its name into a 32-bit
// variable that starts at 0.
uint32_t ReadPropertyNumber(const EventRecord& event, const EventPropertyInfo& property,
                            Tdh& tdh, uint32_t* value)
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
    log.WriteLog(ERROR, "Data read from Events is Invalid.", InvalidEventData);
}

}  // namespace

bool DeviceFile::Open()
{
    const std::string native = files_.NativePath(path_);
    if (stream_ != nullptr) {
        stream_->flush();
        std::error_code error;
        std::filesystem::resize_file(native, 0, error);
        if (!error && stream_->good()) {
            stream_->seekp(0);
            inUse_ = true;
            return true;
        }
        stream_.reset();
    }
    stream_ = std::make_unique<std::fstream>(native, std::ios::in | std::ios::out | std::ios::trunc);
    if (!stream_->is_open()) {
        stream_.reset();
        return false;
    }
    inUse_ = true;
    return true;
}

void DeviceFile::Release()
{
    inUse_ = false;
    stream_.reset();
}

int32_t ProcessPowerTrace(std::string directory, RundownLists& lists, DebugLog& log,
                          EventTraceConsumer& consumer, Tdh& tdh, FileSystem& files)
{
    DeviceFile deviceFile(directory + "\\" + DeviceFileName, files);
    const std::string traceFile = TraceFilePath(directory);
    TraceDecoder decoder{lists, log, tdh, deviceFile};

    EventTraceLogfile logfile;
    logfile.LogFileName = Widen(traceFile);
    logfile.ProcessTraceMode = ProcessTraceModeEventRecord;
    logfile.EventRecordCallback = [&decoder](const EventRecord& event) {
        OnTraceEvent(event, decoder);
    };

    int32_t result = 0;
    TraceHandle handle = consumer.OpenTrace(logfile);
    if (handle == InvalidProcessTraceHandle) {
        uint32_t lastError = consumer.GetLastError();
        log.WriteLog(ERROR, "OpenTrace failed.", AsStatus(lastError));
        // A trace that cannot be read must not pass for an empty machine.
        result = lastError != 0 ? AsStatus(lastError) : OpenFailedWithoutCode;
    } else {
        log.WriteLog(INFORMATION, "Number of buffers lost: " + std::to_string(logfile.BuffersLost), 0);
        uint32_t status = consumer.ProcessTrace(handle);
        if (status != 0 && status != ErrorCancelled) {
            log.WriteLog(ERROR, "ProcessTrace failed.", AsStatus(status));
            result = AsStatus(status);
        }
    }

    deviceFile.Release();
    files.DeleteFile(deviceFile.Path());
    if (handle != InvalidProcessTraceHandle) {
        consumer.CloseTrace(handle);
    }
    files.DeleteFile(traceFile);
    return result;
}

bool OnTraceEvent(const EventRecord& event, TraceDecoder& decoder)
{
    DebugLog& log = decoder.Log;
    if (event.ProviderId == EventTraceGuid && event.Opcode == 0) {
        return true;  // the header event of the file
    }

    TraceEventInfo info;
    uint32_t size = 0;
    uint32_t status = decoder.TdhService.GetEventInformation(event, nullptr, &size);
    if (status == ErrorInsufficientBuffer) {
        status = decoder.TdhService.GetEventInformation(event, &info, &size);
    }
    if (status == ErrorOutOfMemory) {
        log.WriteLog(ERROR, "Cannot get memory for event.", AsStatus(status));
        log.WriteLog(ERROR, "Cannot get event information.", AsStatus(status));
        return false;
    }
    if (status != 0) {
        log.WriteLog(ERROR, "Retriving information from events failed.", AsStatus(status));
        log.WriteLog(ERROR, "Cannot get event information.", AsStatus(status));
        return false;
    }

    const uint16_t id = info.EventId;
    bool wanted = id == PoFxRegistration || id == PepDevice || id == PepComponent || id == PoDevice;
    if (info.DecodingSource != DecodingSourceXMLFile || !wanted) {
        return true;
    }

    const uint32_t pointerSize = (event.Flags & EventHeaderFlag32BitHeader) != 0 ? 4 : 8;
    if (!decoder.File.Open()) {
        log.WriteLog(ERROR, "Error In accessing File for device writes", errno);
        return false;
    }
    size_t position = 0;
    for (uint32_t i = 0; i < info.TopLevelPropertyCount; ++i) {
        auto next = WriteEventProperty(event, info, pointerSize, i, position,
                                       event.UserDataLength, decoder);
        if (!next) {
            decoder.File.Close();
            return false;
        }
        position = *next;
    }

    std::fstream* file = decoder.File.Stream();
    switch (id) {
    case PoFxRegistration:
        AddPoFxEntry(file, decoder.Lists, log);
        break;
    case PepDevice:
        AddPepDeviceEntry(file, decoder.Lists, log);
        break;
    case PepComponent:
        AddPepComponentEntry(file, decoder.Lists, log);
        break;
    default:
        AddPoEntry(file, decoder.Lists, log);
        break;
    }
    decoder.File.Close();
    return true;
}

std::optional<size_t> WriteEventProperty(const EventRecord& event, const TraceEventInfo& info,
                                         uint32_t pointerSize, size_t index, size_t position,
                                         size_t end, TraceDecoder& decoder, int depth)
{
    DebugLog& log = decoder.Log;
    Tdh& tdh = decoder.TdhService;
    const auto& properties = info.EventPropertyInfoArray;
    if (index >= properties.size() || depth > MaxStructDepth || position > end) {
        InvalidData(log);
        return std::nullopt;
    }
    const EventPropertyInfo& property = properties[index];
    const bool isStruct = (property.Flags & PropertyStruct) != 0;

    uint16_t length = 0;
    if ((property.Flags & PropertyParamLength) != 0) {
        if (property.Length >= properties.size()) {
            InvalidData(log);
            return std::nullopt;
        }
        uint32_t value = 0;
        uint32_t status = ReadPropertyNumber(event, properties[property.Length], tdh, &value);
        if (status != 0) {
            log.WriteLog(ERROR, "Cannot get property length of Event.", AsStatus(status));
            return std::nullopt;
        }
        length = static_cast<uint16_t>(value);
    } else if (property.Length > 0) {
        length = property.Length;
    } else if (property.InType == TdhInTypeBinary && property.OutType == TdhOutTypeIpv6) {
        length = 16;
    } else if (property.InType == TdhInTypeUnicodeString ||
               property.InType == TdhInTypeAnsiString || isStruct) {
        length = 0;  // the formatter finds the end itself
    } else {
        InvalidData(log);
        log.WriteLog(ERROR, "Cannot get property length of Event.", InvalidEventData);
        return std::nullopt;
    }

    uint16_t count = property.Count;
    uint32_t countStatus = 0;
    if ((property.Flags & PropertyParamCount) != 0) {
        uint32_t value = 0;
        if (property.Count < properties.size()) {
            countStatus = ReadPropertyNumber(event, properties[property.Count], tdh, &value);
        } else {
            countStatus = static_cast<uint32_t>(InvalidEventData);
        }
        count = countStatus == 0 ? static_cast<uint16_t>(value) : 0;
    }

    std::vector<char16_t> formatted;
    for (uint16_t element = 0; element < count; ++element) {
        if (isStruct) {
            size_t first = property.StructStartIndex;
            for (size_t member = first; member < first + property.NumOfStructMembers; ++member) {
                auto next = WriteEventProperty(event, info, pointerSize, member, position, end,
                                               decoder, depth + 1);
                if (!next) {
                    log.WriteLog(ERROR, "Printing members of event structure failed.",
                                 AsStatus(countStatus));
                    return std::nullopt;
                }
                position = *next;
            }
            continue;
        }

        EventMapInfo map;
        const EventMapInfo* mapInfo = &map;
        uint32_t mapSize = 0;
        uint32_t status = tdh.GetEventMapInformation(event, property.MapName, nullptr, &mapSize);
        if (status == ErrorInsufficientBuffer) {
            status = tdh.GetEventMapInformation(event, property.MapName, &map, &mapSize);
        }
        if (status == ErrorOutOfMemory) {
            log.WriteLog(ERROR, "Cannot allocate memory for events.", AsStatus(status));
            log.WriteLog(ERROR, "Cannot access Map value for event.", AsStatus(status));
            return std::nullopt;
        }
        if (status == ErrorNotFound) {
            mapInfo = nullptr;
        } else if (status != 0) {
            log.WriteLog(ERROR, "Cannot get event map information.", AsStatus(status));
            log.WriteLog(ERROR, "Cannot access Map value for event.", AsStatus(status));
            return std::nullopt;
        } else if (info.DecodingSource == DecodingSourceXMLFile) {
            // Map texts from a manifest end in a blank.
            for (std::u16string& text : map.EntryOutputs) {
                if (!text.empty()) {
                    text.pop_back();
                }
            }
        }

        const uint16_t remaining = static_cast<uint16_t>(end - position);
        const uint8_t* data = event.UserData != nullptr ? event.UserData + position : nullptr;
        uint32_t bufferSize = static_cast<uint32_t>(formatted.size() * sizeof(char16_t));
        uint16_t consumed = 0;
        status = tdh.FormatProperty(info, mapInfo, pointerSize, property.InType, property.OutType,
                                    length, remaining, data, &bufferSize, formatted.data(),
                                    &consumed);
        if (status == ErrorInsufficientBuffer) {
            auto larger = TryAllocate<char16_t>((size_t{bufferSize} + 1) / 2);
            if (!larger) {
                log.WriteLog(ERROR, "Failed to allocate memory for formatted data of events",
                             AsStatus(ErrorOutOfMemory));
                return std::nullopt;
            }
            formatted = std::move(*larger);
            bufferSize = static_cast<uint32_t>(formatted.size() * sizeof(char16_t));
            status = tdh.FormatProperty(info, mapInfo, pointerSize, property.InType,
                                        property.OutType, length, remaining, data, &bufferSize,
                                        formatted.data(), &consumed);
        }
        if (status != 0 || consumed > remaining) {
            return std::nullopt;
        }
        std::u16string_view text(formatted.data(), formatted.size());
        text = text.substr(0, text.find(u'\0'));
        if (std::fstream* file = decoder.File.Stream()) {
            *file << Narrow(property.Name) << ": " << Narrow(text) << "\n";
        }
        position += consumed;
    }
    return position;
}

}  // namespace dormex
