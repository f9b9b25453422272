#include <gtest/gtest.h>

#include "TestPlatform.h"
#include "rules/RuleSet.h"
#include "rules/RuleValidation.h"

namespace dormex {
namespace {

struct State {
    int32_t index;
    const char* d;
    const char* f;
};

RuleSet OneRule(const char* type, int32_t count, std::vector<State> states)
{
    Rule rule;
    rule.Class = "audio";
    rule.Regex = ".*HDAS";
    rule.ServiceName = "HDAudBus";
    rule.RuleType = type;
    rule.PlatformStateCount = count;
    for (const State& state : states) {
        rule.PlatformStates.push_back({state.index, state.d, state.f});
    }
    RuleSet rules;
    rules.OsEntries.emplace_back();
    rules.OsEntries.back().Rules.push_back(rule);
    return rules;
}

// A rule type that is not one of the five is the bad-rules scenario.
TEST(ValidateRuleSet, AcceptsOrRejectsWithTheFirstViolation)
{
    struct Case {
        const char* type;
        int32_t count;
        std::vector<State> states;
        std::string rejection;  // the LogLevel::UserInfo message(s), empty when valid
    };
    const Case cases[] = {
        {"always", 2, {{0, "3", "0"}, {1, "3", "1"}}, ""},
        {"dynamic", 1, {{0, "0x3", "0xff"}}, ""},
        {"requiredNo", 1, {{0, "", ""}}, ""},
        {"classInvalidator", 2, {{0, "3", "0"}, {1, "0", "0"}, {2, "9", "999"}}, ""},
        {"always",
         2,
         {{0, "3", "0"}, {2, "3", "0"}},
         "PlatformStateIndex is not in order, Index provided is : 2"},
        {"always", 1, {{0, "4", "0"}}, "D State is not correct, D State provided is : 4"},
        {"always", 1, {{0, "010", "0"}}, "D State is not correct, D State provided is : 010"},
        {"always", 1, {{0, "3", "256"}}, "F State is not correct, F State provided is : 256"},
        {"always", 1, {{0, "4", "256"}}, "D State is not correct, D State provided is : 4"},
        {"always",
         3,
         {{0, "3", "0"}, {1, "3", "0"}},
         "platformstate tags are fewer than platform state count: 3 For Regex/servicename "
         ".*HDAS/HDAudBus"},
    };
    for (const Case& c : cases) {
        test::LogCapture capture;
        RuleSet rules = OneRule(c.type, c.count, c.states);
        int32_t status = ValidateRuleSet(rules, capture.Log);
        std::string label = std::string(c.type) + " " + std::to_string(c.count) + " " + c.rejection;
        if (c.rejection.empty()) {
            EXPECT_EQ(status, 0) << label;
            EXPECT_EQ(capture.Text(), "\nWARNING:: Unique classes are not present. ") << label;
        } else {
            EXPECT_EQ(status, 13) << label;
            EXPECT_EQ(capture.Text(), "\nUSER_INFO:: " + c.rejection + " :: Error code: 13")
                << label;
        }
    }
}

TEST(ValidateRuleSet, StopsAtTheFirstBadRuleInFileOrder)
{
    test::LogCapture capture;
    RuleSet rules = OneRule("always", 1, {{0, "7", "0"}});
    rules.OsEntries.emplace_back();
    rules.OsEntries.back().Rules.push_back(OneRule("Bad", 0, {}).OsEntries[0].Rules[0]);
    EXPECT_EQ(ValidateRuleSet(rules, capture.Log), 13);
    EXPECT_EQ(capture.Text(),
              "\nUSER_INFO:: D State is not correct, D State provided is : 7 :: Error code: 13");
}

}  // namespace
}  // namespace dormex
