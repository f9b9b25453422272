#include <gtest/gtest.h>

#include "rules/RulePattern.h"

namespace dormex {
namespace {

using Outcome = RulePattern::Outcome;

TEST(RulePattern, MatchesTheWholeTextWithEcmaScriptMeaning)
{
    struct Case {
        std::string pattern;
        std::string text;
        Outcome expected;
    };
    const Case cases[] = {
        {".*\\.HDAS", "\\_SB.PC00.HDAS", Outcome::Match},
        {".*\\.HDAS", "\\_SB.PC00.HDAS0", Outcome::NoMatch},
        {"HDAS", "x.HDAS", Outcome::NoMatch},
        {"hdas", "HDAS", Outcome::NoMatch},
        {".*\\.UA0[0-2]", "\\_SB.UA02", Outcome::Match},
        {"a|ab", "ab", Outcome::Match},
        {"a.c", "a\nc", Outcome::NoMatch},
        {"a$", "a\n", Outcome::NoMatch},
        {"[]*a", "a", Outcome::Match},
        {"[^]*", "x\ny", Outcome::Match},
        {"[\\]]", "]", Outcome::Match},
        {"(a)|\\1b", "b", Outcome::Match},
        {"\\u0041\\x42", "AB", Outcome::Match},
        {"a\\\\b", "a\\b", Outcome::Match},
        {"(a|aa)+", std::string(1021, 'a') + "!", Outcome::GaveUp},
        {"(a+)+$", std::string(30, 'a') + "!", Outcome::GaveUp},
    };
    for (const Case& c : cases) {
        RulePattern pattern(c.pattern);
        ASSERT_TRUE(pattern.Valid()) << c.pattern << ": " << pattern.Error();
        EXPECT_EQ(pattern.Match(c.text), c.expected) << c.pattern << " on " << c.text;
    }
}

TEST(RulePattern, RefusesWhatCannotBeMatchedSafely)
{
    struct Case {
        std::string pattern;
        std::string error;
    };
    const Case cases[] = {
        {"(HDAS", "missing closing parenthesis at offset 5"},
        {std::string(100000, 'a'),
         "pattern string is longer than the limit set by the application at offset 0"},
        {std::string(300, '(') + "a" + std::string(300, ')'),
         "parentheses are too deeply nested at offset 251"},
        // Offsets count in the pattern as written, not as the empty classes are spelt.
        {"[][^]x(", "missing closing parenthesis at offset 7"},
        {std::string(8191, 'a') + "[]",
         "pattern string is longer than the limit set by the "
         "application at offset 0"},
    };
    // Spelling the empty classes does not count against the length limit.
    EXPECT_TRUE(RulePattern(std::string(8190, 'a') + "[]").Valid());
    for (const Case& c : cases) {
        RulePattern pattern(c.pattern);
        EXPECT_FALSE(pattern.Valid());
        EXPECT_EQ(pattern.Error(), c.error) << c.pattern.substr(0, 20);
        EXPECT_EQ(pattern.Match("HDAS"), Outcome::NoMatch);
    }
}

}  // namespace
}  // namespace dormex
