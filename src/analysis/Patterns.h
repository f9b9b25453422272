#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>

#include "rules/RulePattern.h"

namespace dormex {

class DebugLog;
struct Rule;

// Rule patterns, each compiled once. A pattern that does not compile matches
// nothing, and the rule that carries it is named once in a WARNING; so is a
// rule whose pattern gives up on a text, which then counts as no match.
class PatternCache {
public:
    bool Matches(const Rule& rule, const std::string& pattern, const std::string& text,
                 DebugLog& log);

private:
    std::map<std::string, RulePattern> compiled_;
    std::set<std::pair<const Rule*, std::string>> reported_;
};

}  // namespace dormex
