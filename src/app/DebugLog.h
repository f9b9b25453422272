#pragma once

#include <cstdint>
#include <fstream>
#include <string>

namespace dormex {

class Console;
class FileSystem;

using LogLevel = int32_t;
inline constexpr LogLevel INFORMATION = 0;
inline constexpr LogLevel WARNING = 1;
inline constexpr LogLevel ERROR = 2;
inline constexpr LogLevel USER_INFO = 3;

std::string LevelPrefix(LogLevel level);

// The debug log file and the console echo of the lines meant for the user.
// The file stays open between entries and every entry is flushed, so the log
// is complete whenever the program stops.
class DebugLog {
public:
    DebugLog(Console& console, FileSystem& files) : console_(console), files_(files) {}

    std::string LogPath;
    bool LoggingEnabled = false;

    void WriteLog(LogLevel level, std::string message, int32_t code);
    void ShowConsoleMessage(std::string message, int32_t code);

private:
    Console& console_;
    FileSystem& files_;
    std::ofstream file_;
    std::string openPath_;  // the LogPath the file was opened for
};

}  // namespace dormex
