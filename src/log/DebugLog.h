#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace dormex {

class Console;

// How an entry is marked in the log; the user's lines are echoed on the
// console too.
enum class LogLevel : int32_t { Information = 0, Warning = 1, Error = 2, UserInfo = 3 };

std::string LevelPrefix(LogLevel level);

// The debug log and the console echo of the lines meant for the user. Entries
// go to the stream its owner attaches (the log file) in blocks: ERROR and
// USER_INFO entries are flushed at once, and the owner flushes before every
// step that can fail or stop the run and when the run ends, so the log is
// complete whenever the program stops.
class DebugLog {
public:
    explicit DebugLog(Console& console) : console_(console) {}

    // Entries are written to `sink` from now on; none before a sink is
    // attached. A sink that failed to open makes every entry say so on the
    // console instead.
    void WriteTo(std::ostream* sink) { sink_ = sink; }

    // `observer` sees every entry, with its level, text and code, as it is
    // written; for a program that reports the entries in a form of its own.
    using Observer = std::function<void(LogLevel, const std::string&, int32_t)>;
    void Observe(Observer observer) { observer_ = std::move(observer); }

    void WriteLog(LogLevel level, std::string message, int32_t code);
    void Flush()
    {
        if (sink_ != nullptr) {
            sink_->flush();
        }
    }
    void ShowConsoleMessage(std::string message, int32_t code);

private:
    Console& console_;
    std::ostream* sink_ = nullptr;
    Observer observer_;
};

}  // namespace dormex
