#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
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
// An event's lines are gathered while it is decoded, then written over the
// start of the file in one piece and read back from it: what a field can hold
// is what survives that round trip. The file stays open between events and is
// never emptied; only the text this event wrote is read back.
class ScratchFile {
public:
    ScratchFile(std::string path, FileSystem& files) : path_(std::move(path)), files_(files) {}

    const std::string& Path() const { return path_; }
    // Begins an event; the file is created, emptied, when it is not open yet.
    bool Open();
    // Where the event's lines go while it is in use, or nullptr.
    std::ostream* Stream() { return inUse_ ? &pending_ : nullptr; }
    // Writes the event's lines into the file and reads them back from it;
    // nullptr when no event is in use.
    std::istream* ReadBack();
    // Ends the use for one event; what it wrote stands in the file.
    void Close();
    // Closes the file itself.
    void Release();

private:
    void WritePending();

    std::string path_;
    FileSystem& files_;
    std::unique_ptr<std::fstream> stream_;
    std::ostringstream pending_;
    std::istringstream readBack_;
    bool inUse_ = false;
    bool written_ = false;
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
