#include "rules/RuleCheck.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

#include "app/DebugLog.h"
#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "rules/RuleParser.h"
#include "rules/RuleSet.h"

namespace dormex {

namespace {

// The log's USER_INFO lines also stand in the log file, which is printed whole.
class SilentConsole final : public Console {
public:
    void Write(std::string_view) override {}
    bool ReadChar(char*) override { return false; }
};

// A log file of its own in the temporary folder, removed afterwards.
class ScratchLog {
public:
    ScratchLog()
    {
        std::random_device random;
        path_ = std::filesystem::temp_directory_path() /
                ("dormex-rules-check-" + std::to_string(random()) + ".txt");
    }
    ~ScratchLog()
    {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    ScratchLog(const ScratchLog&) = delete;
    ScratchLog& operator=(const ScratchLog&) = delete;

    std::string Path() const { return path_.string(); }
    std::string Text() const
    {
        std::ifstream file(path_, std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

private:
    std::filesystem::path path_;
};

// Every pattern of every rule compiled with the grammar rule matching uses.
bool CheckPatterns(const RuleSet& rules, std::ostream& out)
{
    bool valid = true;
    for (const OsEntry& entry : rules.OsEntries) {
        for (const Rule& rule : entry.Rules) {
            try {
                std::regex pattern(rule.Regex, std::regex::ECMAScript);
            } catch (const std::regex_error& error) {
                out << "\nInvalid regex \"" << rule.Regex << "\" (" << error.what()
                    << ") in the rule of class \"" << rule.Class << "\" with service name \""
                    << rule.ServiceName << "\" for OS build \"" << entry.Build << "\"";
                valid = false;
            }
        }
    }
    return valid;
}

}  // namespace

bool CheckRuleFile(const std::string& path, std::ostream& out, FileSystem& files)
{
    SilentConsole console;
    ScratchLog scratch;
    DebugLog log(console, files);
    log.LoggingEnabled = true;
    log.LogPath = scratch.Path();

    RuleSet rules;
    int32_t status = LoadRuleFile(path, rules, log, files);
    out << path << ":" << scratch.Text();
    bool valid = status == 0 && CheckPatterns(rules, out);
    out << "\n" << path << ": " << (valid ? "OK" : "FAILED") << "\n";
    return valid;
}

}  // namespace dormex
