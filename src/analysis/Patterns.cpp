#include "analysis/Patterns.h"

#include "log/DebugLog.h"
#include "rules/RuleSet.h"

namespace dormex {

bool PatternCache::Matches(const Rule& rule, const std::string& pattern, const std::string& text,
                           DebugLog& log)
{
    auto entry = compiled_.find(pattern);
    if (entry == compiled_.end()) {
        entry = compiled_.emplace(pattern, Entry{RulePattern(pattern)}).first;
    }
    Entry& compiled = entry->second;
    if (compiled.GiveUps >= GiveUpsPerRun) {
        return false;
    }
    RulePattern::Outcome outcome = compiled.Pattern.Match(text);
    if (outcome == RulePattern::Outcome::Match) {
        return true;
    }
    const bool valid = compiled.Pattern.Valid();
    if (outcome == RulePattern::Outcome::GaveUp) {
        ++compiled.GiveUps;
    }
    if ((!valid || outcome == RulePattern::Outcome::GaveUp) &&
        reported_.emplace(&rule, pattern).second) {
        const std::string ruleName =
            " (class " + rule.Class + ", service name " + rule.ServiceName + ")";
        log.WriteLog(
            LogLevel::Warning,
            valid ? "Regex of rule took too many steps and counts as no match: " + pattern +
                        " on " + text + ruleName + "; after " + std::to_string(GiveUpsPerRun) +
                        " such texts it takes none for the rest of the run"
                  : "Regex of rule is not a valid pattern; device ids are compared "
                    "with it as plain text: " +
                        pattern + ruleName + ": " + compiled.Pattern.Error(),
            0);
    }
    return false;
}

}  // namespace dormex
