#pragma once

#include <cstdint>
#include <string>

namespace tinyxml2 {
class XMLElement;
class XMLNode;
}  // namespace tinyxml2

namespace dormex {

class DebugLog;
class FileSystem;
struct OsEntry;
struct PlatformStateConstraint;
struct Rule;
struct RuleSet;

// Parses the rule file into `rules` and validates it. 0 or an error code.
// On failure `stopLine`, when given (and 0 before), gets the line of the
// rule-file element that failed, or of a malformed document's fault; it
// stays 0 when no line applies (the file cannot be read, an empty path).
int32_t LoadRuleFile(std::string path, RuleSet& rules, DebugLog& log, FileSystem& files,
                     int32_t* stopLine = nullptr);

int32_t ParseRuleFile(const std::string& path, RuleSet& rules, DebugLog& log, FileSystem& files,
                      int32_t* stopLine = nullptr);
int32_t ParseOsEntry(const tinyxml2::XMLElement& os, OsEntry& entry, RuleSet& rules, DebugLog& log,
                     int32_t* stopLine = nullptr);
int32_t ParseRule(const tinyxml2::XMLNode& node, Rule& rule, DebugLog& log,
                  int32_t* stopLine = nullptr);
int32_t ParsePlatformState(const tinyxml2::XMLNode& node, PlatformStateConstraint& state,
                           DebugLog& log, int32_t* stopLine = nullptr);

}  // namespace dormex
