#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "platform/EventTraceConsumer.h"

namespace dormex {

class DebugLog;
class FileSystem;
class Interruption;
class Tdh;
struct RundownLists;
struct TraceEventInfo;

inline constexpr const char* ScratchFileName = "VQT_Device_file.txt";

// The scratch file that holds the decoded properties of one event at a time.
// Between events the file stays open and is emptied in place: closing a file
// just emptied makes some file systems write it out, once per event.
class ScratchFile {
public:
    ScratchFile(std::string path, FileSystem& files) : path_(std::move(path)), files_(files) {}

    const std::string& Path() const { return path_; }
    // Opens it for reading and writing, emptied ("w+").
    bool Open();
    // Ends the use for one event; what was written stands in the file.
    void Close()
    {
        if (stream_ != nullptr) {
            stream_->flush();
        }
        inUse_ = false;
    }
    // Closes the file itself.
    void Release();
    // The stream while the file is open for an event, or nullptr.
    std::fstream* Stream() { return inUse_ ? stream_.get() : nullptr; }

private:
    std::string path_;
    FileSystem& files_;
    std::unique_ptr<std::fstream> stream_;
    bool inUse_ = false;
};

// What the event callback works with during one replay of the trace.
struct DecodeContext {
    RundownLists& Lists;
    DebugLog& Log;
    Tdh& TdhService;
    ScratchFile& File;
};

// Replays <directory>\VQTSystemTrace.etl into the rundown lists, then deletes
// it and the scratch file. 0, or the status that ended the replay. An
// interrupted run reads no more events (none when it was interrupted before)
// and deletes the files all the same.
int32_t ProcessPowerTrace(std::string directory, RundownLists& lists, DebugLog& log,
                          EventTraceConsumer& consumer, Tdh& tdh, Interruption& interruption,
                          FileSystem& files);

// Decodes one event of interest into the scratch file and adds its record.
// Returns false when the event could not be decoded (its messages are logged).
bool OnTraceEvent(const EventRecord& event, DecodeContext& decoder);

// Writes the lines of every top-level property (with its array elements and
// structure members) into the open scratch file; false on failure (logged,
// except a value the formatter refused). The work is bounded by the event's
// data, whatever counts its description holds.
bool WriteEventProperties(const EventRecord& event, const TraceEventInfo& info,
                          DecodeContext& decoder);

}  // namespace dormex
