#include "rules/RuleCheck.h"

#include <sstream>

#include "log/DebugLog.h"
#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "rules/RuleParser.h"
#include "rules/RulePattern.h"
#include "rules/RuleSet.h"

namespace dormex {

namespace {

// The log's USER_INFO lines also stand among its entries, which are printed whole.
class SilentConsole final : public Console {
public:
    void Write(std::string_view) override {}
    bool ReadChar(char*) override { return false; }
};

// Every pattern of every rule compiled with the grammar rule matching uses.
bool CheckPatterns(const RuleSet& rules, std::ostream& out)
{
    bool valid = true;
    for (const OsEntry& entry : rules.OsEntries) {
        for (const Rule& rule : entry.Rules) {
            RulePattern pattern(rule.Regex);
            if (!pattern.Valid()) {
                out << "\nInvalid regex \"" << rule.Regex << "\" (" << pattern.Error()
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
    std::ostringstream entries;
    DebugLog log(console);
    log.WriteTo(&entries);

    RuleSet rules;
    int32_t status = LoadRuleFile(path, rules, log, files);
    out << path << ":" << entries.str();
    bool valid = status == 0 && CheckPatterns(rules, out);
    out << "\n" << path << ": " << (valid ? "OK" : "FAILED") << "\n";
    return valid;
}

}  // namespace dormex
