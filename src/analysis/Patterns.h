#pragma once

#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <utility>

namespace dormex {

class DebugLog;
struct Rule;

// Rule patterns (ECMAScript, whole-text match), each compiled once. A pattern
// that does not compile matches nothing; the rule that carries it is named
// once in a WARNING.
class PatternCache {
public:
    bool Matches(const Rule& rule, const std::string& pattern, const std::string& text,
                 DebugLog& log);

private:
    std::map<std::string, std::optional<std::regex>> compiled_;
    std::set<std::pair<const Rule*, std::string>> reported_;
};

}  // namespace dormex
