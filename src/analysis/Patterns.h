#pragma once

#include <unordered_map>
#include <set>
#include <string>
#include <utility>

#include "rules/RulePattern.h"

namespace dormex {

class DebugLog;
struct Rule;

// Rule patterns, each compiled once. A pattern that does not compile takes
// no text, and the rule that carries it is named once in a WARNING; so is a
// rule whose pattern gives up on a text, which then counts as no match. A
// pattern that has given up on GiveUpsPerRun texts is not tried again in the
// run and takes no more text: however many patterns and texts, a run spends
// at most that many give-ups on each pattern.
class PatternCache {
public:
    static constexpr uint32_t GiveUpsPerRun = 3;

    bool Matches(const Rule& rule, const std::string& pattern, const std::string& text,
                 DebugLog& log);

private:
    struct Entry {
        RulePattern Pattern;
        uint32_t GiveUps = 0;
    };
    std::unordered_map<std::string, Entry> compiled_;
    std::set<std::pair<const Rule*, std::string>> reported_;
};

}  // namespace dormex
