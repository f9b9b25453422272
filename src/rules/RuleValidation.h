#pragma once

#include <cstdint>

namespace dormex {

class DebugLog;
struct RuleSet;

// Checks rule types, platform-state order and D/F ranges. 0, or
// ErrorInvalidData at the first violation in file order; `stopLine`, when
// given, then gets the line of the rule or platform state that violates.
int32_t ValidateRuleSet(const RuleSet& rules, DebugLog& log, int32_t* stopLine = nullptr);

}  // namespace dormex
