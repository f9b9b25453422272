#include <gtest/gtest.h>

#include "common/Text.h"

namespace dormex {
namespace {

TEST(ReadDecimal, ReadsAsStrtolWithBaseTenDoes)
{
    struct Case {
        const char* text;
        int32_t expected;
    };
    const Case cases[] = {
        {"138", 138},
        {"  42", 42},
        {"-1", -1},
        {"+7", 7},
        {"3x", 3},
        {" 3x", 3},
        {"0x1F", 0},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"\t\n 12", 12},
        {"010", 10},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"-99999999999", -2147483647 - 1},
        {"99999999999999999999999", 2147483647},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadDecimal(c.text), c.expected) << "text: \"" << c.text << "\"";
    }
}

TEST(SplitWords, RunsOfBlanksSeparateWordsWithoutEmptyOnes)
{
    using Words = std::vector<std::string>;
    EXPECT_EQ(SplitWords("x64 Family 6"), (Words{"x64", "Family", "6"}));
    EXPECT_EQ(SplitWords("  a   b  "), (Words{"a", "b"}));
    EXPECT_EQ(SplitWords(""), Words{});
    EXPECT_EQ(SplitWords("   "), Words{});
    EXPECT_EQ(SplitWords("a\tb"), Words{"a\tb"});
}

TEST(WideText, NarrowKeepsLowBytesAndWidenSignExtends)
{
    EXPECT_EQ(Narrow(u"PCI\\VEN_1"), "PCI\\VEN_1");
    EXPECT_EQ(Narrow(std::u16string(1, char16_t(0x1E41))), "\x41");
    EXPECT_EQ(Widen("rules_for_soc"), u"rules_for_soc");
    EXPECT_EQ(Widen("\xE9"), std::u16string(1, char16_t(0xFFE9)));
    EXPECT_EQ(Narrow(Widen("caf\xE9")), "caf\xE9");
}

TEST(ReadNumberAutoBase, DetectsHexadecimalAndOctal)
{
    struct Case {
        const char* text;
        int32_t expected;
    };
    const Case cases[] = {
        {"3", 3},
        {"0x3", 3},
        {"0X1f", 31},
        {"0xff", 255},
        {"010", 8},
        {"08", 0},
        {"", 0},
        {"abc", 0},
        {"-1", -1},
        {" 4", 4},
        {"0x", 0},
        {"0xg", 0},
        {"256", 256},
        {"0", 0},
        {"-0x10", -16},
        {"+077", 63},
        {"0x7fffffff", 2147483647},
        {"0xffffffff", 2147483647},
        {"12ab", 12},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadNumberAutoBase(c.text), c.expected) << "text: \"" << c.text << "\"";
    }
}

}  // namespace
}  // namespace dormex
