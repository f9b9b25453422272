#include "rules/RuleValidation.h"

#include <algorithm>

#include "common/StatusCodes.h"
#include "common/Text.h"
#include "log/DebugLog.h"
#include "rules/RuleSet.h"

namespace dormex {

namespace {

// Logs why a rule is not valid, notes the line of the element at fault and
// gives the status that says so.
int32_t Reject(DebugLog& log, const std::string& reason, int32_t line, int32_t* stopLine)
{
    log.WriteLog(LogLevel::UserInfo, reason, ErrorInvalidData);
    if (stopLine != nullptr) {
        *stopLine = line;
    }
    return ErrorInvalidData;
}

int32_t ValidateRule(const Rule& rule, DebugLog& log, int32_t* stopLine)
{
    if (std::find(RuleTypeNames.begin(), RuleTypeNames.end(), rule.RuleType) ==
        RuleTypeNames.end()) {
        log.WriteLog(LogLevel::UserInfo, "Rule is corrupt, class provided is : " + rule.RuleType,
                     ErrorInvalidData);
        std::string accepted;
        for (std::string_view name : RuleTypeNames) {
            accepted += ",";
            accepted += name;
        }
        return Reject(log, "We expect one of the following  Rule classes: " + accepted,
                      rule.RuleTypeLine, stopLine);
    }
    for (int32_t i = 0; i < rule.PlatformStateCount; ++i) {
        if (static_cast<size_t>(i) >= rule.PlatformStates.size()) {
            return Reject(log,
                          "platformstate tags are fewer than platform state count: " +
                              std::to_string(rule.PlatformStateCount) + " For Regex/servicename " +
                              rule.Regex + "/" + rule.ServiceName,
                          rule.CountLine, stopLine);
        }
        const PlatformStateConstraint& state = rule.PlatformStates[static_cast<size_t>(i)];
        if (state.PlatformStateIndex != i) {
            return Reject(log,
                          "PlatformStateIndex is not in order, Index provided is : " +
                              std::to_string(state.PlatformStateIndex),
                          state.IndexLine, stopLine);
        }
        int32_t d = ReadNumberAutoBase(state.DState);
        if (d < 0 || d >= 4) {
            return Reject(log, "D State is not correct, D State provided is : " + state.DState,
                          state.DStateLine, stopLine);
        }
        int32_t f = ReadNumberAutoBase(state.FState);
        if (f < 0 || f >= 256) {
            return Reject(log, "F State is not correct, F State provided is : " + state.FState,
                          state.FStateLine, stopLine);
        }
    }
    return 0;
}

}  // namespace

int32_t ValidateRuleSet(const RuleSet& rules, DebugLog& log, int32_t* stopLine)
{
    for (const OsEntry& entry : rules.OsEntries) {
        for (const Rule& rule : entry.Rules) {
            if (int32_t status = ValidateRule(rule, log, stopLine); status != 0) {
                return status;
            }
        }
    }
    // The rule file has no way to name classes of which one device must be
    // constrained, so there never are any.
    log.WriteLog(LogLevel::Warning, "Unique classes are not present. ", 0);
    return 0;
}

}  // namespace dormex
