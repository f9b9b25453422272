#include "log/DebugLog.h"

#include "platform/Console.h"

namespace dormex {

std::string LevelPrefix(LogLevel level)
{
    switch (level) {
    case LogLevel::Information:
        return "INFORMATION:: ";
    case LogLevel::Warning:
        return "WARNING:: ";
    case LogLevel::Error:
        return "ERROR:: ";
    case LogLevel::UserInfo:
        return "USER_INFO:: ";
    }
    return "NOT_SUPPORTED:: ";
}

void DebugLog::WriteLog(LogLevel level, std::string message, int32_t code)
{
    if (observer_) {
        observer_(level, message, code);
    }
    if (sink_ != nullptr) {
        if (*sink_) {
            std::string entry(1, '\n');
            entry += LevelPrefix(level);
            entry += message;
            if (code != 0) {
                entry += " :: Error code: " + std::to_string(code);
            }
            *sink_ << entry;
            // What leads to a stop reaches the file at once; the rest in blocks.
            if (level == LogLevel::Error || level == LogLevel::UserInfo) {
                sink_->flush();
            }
        } else {
            ShowConsoleMessage(
                "Cannot open file. can you please remove the log file & restart the tool.", 0);
        }
    }
    if (level == LogLevel::UserInfo) {
        ShowConsoleMessage(std::move(message), code);
    }
}

void DebugLog::ShowConsoleMessage(std::string message, int32_t code)
{
    std::string text = "\n" + message;
    if (code != 0) {
        text += "\nExit Error code: " + std::to_string(code);
    }
    console_.Write(text);
}

}  // namespace dormex
