#include "analysis/Patterns.h"

#include "log/DebugLog.h"
#include "rules/RuleSet.h"

namespace dormex {

bool PatternCache::Matches(const Rule& rule, const std::string& pattern, const std::string& text,
                           DebugLog& log)
{
    auto entry = compiled_.find(pattern);
    if (entry == compiled_.end()) {
        entry = compiled_.emplace(pattern, RulePattern(pattern)).first;
    }
    const RulePattern& compiled = entry->second;
    RulePattern::Outcome outcome = compiled.Match(text);
    if (outcome == RulePattern::Outcome::Match) {
        return true;
    }
    if ((!compiled.Valid() || outcome == RulePattern::Outcome::GaveUp) &&
        reported_.emplace(&rule, pattern).second) {
        const std::string ruleName =
            " (class " + rule.Class + ", service name " + rule.ServiceName + ")";
        log.WriteLog(
            LogLevel::Warning,
            compiled.Valid()
                ? "Regex of rule took too many steps and counts as no match: " + pattern + " on " +
                      text + ruleName
                : "Regex of rule is not a valid pattern; device ids are compared with it as plain text: " +
                      pattern + ruleName + ": " + compiled.Error(),
            0);
    }
    return false;
}

}  // namespace dormex
