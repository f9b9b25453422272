#include <gtest/gtest.h>

#include <tuple>

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
        {"3x", 3},
        {"0x1F", 0},
        {"010", 10},
        {"2147483648", 2147483647},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadDecimal(c.text), c.expected) << "text: \"" << c.text << "\"";
    }
}

// Names in other scripts reach the report whole in the localized-names and
// profile scenarios; here what is not text.
TEST(WideText, WhatIsNotTextConvertsWithoutLoss)
{
    EXPECT_EQ(Utf16ToUtf8(u"\U0001F50A"), "\xF0\x9F\x94\x8A");
    EXPECT_EQ(Utf16ToUtf8(u"caf\u00E9 \u20AC"), "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(Utf8ToUtf16(std::string(1, '\0')), std::u16string(1, u'\0'));
    // Half a surrogate pair, alone, becomes U+FFFD; a byte that is no UTF-8
    // passes through as one unit.
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD83D)) + u"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(Utf8ToUtf16("caf\xE9"), u"caf\u00E9");
    for (const std::u16string& lone :
         {std::u16string{0xDC00}, std::u16string{u'a', 0xD800}, std::u16string{0xD800, u'b'}}) {
        EXPECT_EQ(Utf16ToUtf8(lone).find("\xEF\xBF\xBD"), lone[0] == u'a' ? 1u : 0u);
    }
    // Bytes cut short, an offset past the end, no terminator: as far as they go.
    struct Case {
        std::vector<uint8_t> bytes;
        size_t offset;
        std::u16string text;
    };
    const Case cases[] = {
        {{0x41, 0x00, 0x42}, 0, u"A"},
        {{0x41, 0x00}, 4, u""},
        {{0x41, 0x00, 0x42, 0x00}, 0, u"AB"},
        {{0x41, 0x00, 0x00, 0x00, 0x42, 0x00}, 0, u"A"},
        {{0x00, 0x41, 0x00, 0x42, 0x00}, 1, u"AB"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf16LeTextAt(c.bytes, c.offset), c.text) << c.offset;
    }
    EXPECT_EQ(DecodeUtf16Le(std::vector<uint8_t>{0x41, 0x00, 0x42}), u"A");
    // The same conversion from UTF-16LE bytes (an odd last byte left out) and
    // onto the end of a text, past an ASCII run (read eight or four units at
    // a time) or not: a unit that is not ASCII at every place of texts
    // shorter than a block and longer.
    std::vector<std::pair<std::u16string, std::string>> conversions = {
        {u"PCI\\VEN_1", "PCI\\VEN_1"},
        {u"\U0001F50Az", "\xF0\x9F\x94\x8Az"},
        {{u'a', 0xD800}, "a\xEF\xBF\xBD"},
        {u"", ""},
    };
    const std::pair<char16_t, std::string_view> others[] = {
        {0x0080, "\xC2\x80"}, {0x0100, "\xC4\x80"}, {0x0141, "\xC5\x81"}, {0xFF00, "\xEF\xBC\x80"}};
    for (const auto& [unit, unitUtf8] : others) {
        for (size_t length : {3, 10, 21}) {
            for (size_t at = 0; at <= length; ++at) {
                conversions.emplace_back(std::u16string(length, u'a').insert(at, 1, unit),
                                         std::string(length, 'a').insert(at, unitUtf8));
            }
        }
    }
    for (const auto& [text, utf8] : conversions) {
        std::vector<uint8_t> bytes = EncodeUtf16Le(text);
        bytes.push_back(0x41);
        EXPECT_EQ(Utf16ToUtf8(text), utf8);
        std::string appended = "x";
        AppendUtf8(appended, text);
        EXPECT_EQ(appended, std::string("x").append(utf8));
        std::string appendedLe = "x";
        AppendUtf8OfUtf16Le(appendedLe, bytes);
        EXPECT_EQ(appendedLe, appended);
    }
}

TEST(ReadNumberAutoBase, DetectsHexadecimalAndOctal)
{
    struct Case {
        const char* text;
        int32_t expected;
    };
    const Case cases[] = {
        {"0x3", 3},
        {"010", 8},
        {"-1", -1},
        {"-0x10", -16},
        {"+077", 63},
        {"0x7fffffff", 2147483647},
        {"0xffffffff", 2147483647},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadNumberAutoBase(c.text), c.expected) << "text: \"" << c.text << "\"";
    }
}

TEST(NaturalLess, ComparesRunsOfDigitsAsNumbers)
{
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"D34", "D234", true},  {"D234", "D34", false}, {"1.9", "1.10", true},
        {"1.10", "1.9", false}, {"a", "b", true},       {"a", "a", false},
        {"a", "a1", true},      {"a01", "a1", false},   {"a1", "a01", false},
        {"x9y", "x10", true},   {"", "0", true},        {"NMB.0.41.2", "NMB.0.41.10", true},
        {"0.5", "0.05", false},
    };
    for (const auto& [left, right, less] : cases) {
        EXPECT_EQ(NaturalLess(left, right), less) << left << " < " << right;
    }
}

}  // namespace
}  // namespace dormex
