#include "analysis/Patterns.h"

#include "log/DebugLog.h"
#include "rules/RuleSet.h"

namespace dormex {

bool PatternCache::Matches(const Rule& rule, const std::string& pattern, const std::string& text,
                           DebugLog& log)
{
    auto entry = compiled_.find(pattern);
    if (entry == compiled_.end()) {
        std::optional<std::regex> regex;
        try {
            regex.emplace(pattern, std::regex::ECMAScript);
        } catch (const std::regex_error&) {
        }
        entry = compiled_.emplace(pattern, std::move(regex)).first;
    }
    if (!entry->second) {
        if (reported_.emplace(&rule, pattern).second) {
            log.WriteLog(WARNING,
                         "Regex of rule is not a valid pattern and matches no device: " + pattern +
                             " (class " + rule.Class + ", service name " + rule.ServiceName + ")",
                         0);
        }
        return false;
    }
    return std::regex_match(text, *entry->second);
}

}  // namespace dormex
