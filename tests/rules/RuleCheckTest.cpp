#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "TestPlatform.h"
#include "rules/RuleCheck.h"
#include "rules/RuleFileText.h"

namespace dormex {

void PrintTo(const RuleDiagnostic& diagnostic, std::ostream* out)
{
    *out << FormatDiagnostic("", diagnostic);
}

namespace {

// One element per line, so that a case can name the line it breaks.
const std::string& Clean = test::OneRuleFile;

// A complete rule on one line.
std::string RuleLine(const std::string& attributes, const std::string& regex)
{
    return "<rule" + attributes + "><class>audio</class><regex>" + regex +
           "</regex><servicename>HDAudBus</servicename><ruletype>always</ruletype><platformstatecount>1</platformstatecount><platformstate><platformstateindex>0</platformstateindex><Dstate>3</Dstate><Fstate>0</Fstate></platformstate></rule>";
}

// `xml` with the first `from` replaced by `to`.
std::string Broken(const std::string& from, const std::string& to, std::string xml = Clean)
{
    const size_t at = xml.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? xml : xml.replace(at, from.size(), to);
}

RuleDiagnostic W(int32_t line, std::string code, std::string message)
{
    return {line, Severity::Warning, std::move(code), std::move(message)};
}
RuleDiagnostic E(int32_t line, std::string code, std::string message)
{
    return {line, Severity::Error, std::move(code), std::move(message)};
}
RuleDiagnostic N(int32_t line, std::string message)
{
    return {line, Severity::Note, "rule-file-invalid", std::move(message)};
}

// Each finding's line, severity and code, and the part of its message that
// says what was read where: the rest of each message is fixed text.
TEST(CheckRuleFile, GivesEachFaultWithItsLine)
{
    struct Case {
        std::string xml;
        std::vector<RuleDiagnostic> expected;  // messages: a part of each
    };
    const Case cases[] = {
        {Clean, {}},
        // State texts that validation and the checks read differently, or not as written.
        {Broken("<Dstate>3<", "<Dstate>D3<"),
         {W(12, "state-not-decimal", "\"D3\" is not a plain decimal number; it is read as 0")}},
        {Broken("<Fstate>1<", "<Fstate>010<"),
         {W(18, "state-not-decimal", "reads it as 8 but the power-state checks compare 10")}},
        {Broken("<class>audio<", "<class>Audio<"),
         {W(5, "unknown-class", "\"Audio\" is not a known class; did you mean \"audio\"?")}},
        {Broken("<class>audio<", "<class>auido<"),
         {W(5, "unknown-class", "\"auido\" is not a known class; did you mean \"audio\"?")}},
        {Broken("<class>audio<", "<class>sound<"),
         {W(5, "unknown-class", "\"sound\" is not a known class")}},
        {Broken(">.*HDAS<", ">.*HD\nAS<"),
         {W(6, "pattern-line-break", "\".*HD\nAS\" holds a line break")}},
        // State counts, both ways; a state after the count is read by nothing.
        {Broken("<platformstatecount>2<", "<platformstatecount>1<"),
         {W(9, "state-count-mismatch", "is 1 but the rule has 2 platformstate elements")}},
        {Broken("<Dstate>3</Dstate>\n        <Fstate>1<", "<Dstate>D3</Dstate>\n        <Fstate>1<",
                Broken("<platformstatecount>2<", "<platformstatecount>1<")),
         {W(9, "state-count-mismatch", "")}},
        // Rules that select nothing or repeat another.
        {Broken("<regex>.*HDAS</regex>\n      <servicename>HDAudBus<",
                "<regex/>\n      <servicename><"),
         {W(4, "matches-nothing", "")}},
        {Broken("    </rule>\n", "    </rule>" + RuleLine(" RuleOnParent=\"1\"", ".*HDAS") + "\n"),
         {W(20, "duplicate-rule", "of the rule at line 4 for the same OS build")}},
        // Patterns.
        {Broken(">.*HDAS<", ">.*(HDAS<"),
         {E(6, "invalid-pattern", "(missing closing parenthesis at offset 7)")}},
        {Broken(">.*HDAS<", ">.*\\\\(\\w+\\s?)+HDAS<"),
         {W(6, "slow-pattern", "nests unbounded repetition (offset 4)")}},
        {Broken(">.*HDAS<", ">(a|aa)+<"),
         {W(6, "slow-pattern", "repeats alternatives that can begin alike (offset 0)")}},
        // OS builds that another entry takes first.
        {Broken("  </os>\n", "  </os><os build=\"22621\">" + RuleLine("", "x") + "</os>\n"),
         {W(21, "repeated-build", "\"22621\" repeats the build of the os element at line 3")}},
        {Broken("  </os>\n", "  </os><os build=\"226210\">" + RuleLine("", "x") + "</os>\n"),
         {W(21, "shadowed-build",
            "\"226210\" contains the build \"22621\" of the os element at line 3")}},
        // What a run refuses: its own messages, at the line it stopped.
        {Broken("    </rule>\n", "    </rules>\n"),
         {E(4, "malformed-xml", "XML_ERROR_MISMATCHED_ELEMENT (XMLElement name=rule)"),
          N(4, "Cannot create a doc handle"), N(4, "Cannot parse xml information")}},
        {Broken("<platformstateindex>1<", "<platformstateindex>2<"),
         {E(16, "rule-file-invalid", "Index provided is : 2"),
          N(16, "Validating Xml Files did not complete Successfully.")}},
    };
    for (const Case& c : cases) {
        test::LogCapture capture;
        const RuleFileCheck check =
            CheckRuleFile(capture.AddFile("rules.xml", c.xml), capture.Files);
        EXPECT_TRUE(check.Readable);
        ASSERT_EQ(check.Diagnostics.size(), c.expected.size()) << c.xml;
        for (size_t i = 0; i < c.expected.size(); ++i) {
            const RuleDiagnostic& found = check.Diagnostics[i];
            const RuleDiagnostic& expected = c.expected[i];
            EXPECT_EQ(RuleDiagnostic({found.Line, found.Level, found.Code, expected.Message}),
                      expected)
                << found.Message;
            EXPECT_NE(found.Message.find(expected.Message), std::string::npos) << found.Message;
        }
    }
}

// A folder (as a FIFO or a device would) is refused before it is read.
TEST(CheckRuleFile, AFileThatIsNotRegularIsUnreadable)
{
    test::LogCapture capture;
    const RuleFileCheck check = CheckRuleFile(capture.Dir.Path().string(), capture.Files);
    EXPECT_FALSE(check.Readable);
    EXPECT_EQ(check.Diagnostics,
              (std::vector<RuleDiagnostic>{{0, Severity::Error, "unreadable",
                                            "cannot read the file (not a regular file)"}}));
}

TEST(FindSlowRepetition, FindsTheOuterGroup)
{
    struct Case {
        std::string pattern;
        std::optional<size_t> offset;
        bool overlapping = false;
    };
    const Case cases[] = {
        // Exponential on a text that almost matches.
        {"(a+)+", 0},
        {"x(?:a{2,})*", 1},
        {"(a|b+)*", 0},
        {"x(y|(a+))*", 1},
        {"(a|aa)+", 0, true},
        {"x(?:\\w|\\d)+$", 1, true},
        {"([a-f]|[0-9]|c)*", 0, true},
        {"(.|\\.)+", 0, true},
        // Linear: something required follows the inner repetition, it gives
        // nothing back, the outer one is bounded, or the alternatives begin
        // with different characters.
        {"(a+b)+", std::nullopt},
        {"\\\\_SB\\.(\\w+\\.)+HDAS", std::nullopt},
        {"(a++)+", std::nullopt},
        {"(a{,})+", std::nullopt},
        {"(a|b)+", std::nullopt},
        {"(?:PCI|ACPI|\\d)+", std::nullopt},
        {"(a|aa){3}", std::nullopt},
        {"(?>a|aa)+", std::nullopt},
        {"(a|aa)++", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<SlowRepetition> slow = FindSlowRepetition(c.pattern);
        ASSERT_EQ(slow.has_value(), c.offset.has_value()) << c.pattern;
        if (slow) {
            EXPECT_EQ(slow->Offset, *c.offset) << c.pattern;
            EXPECT_EQ(slow->Overlapping, c.overlapping) << c.pattern;
        }
    }
}

TEST(RuleDiagnostics, ReadAsOneLineEachAndAsJson)
{
    const RuleDiagnostic warning = W(7, "unknown-class", "class \"a\nb\" is \x7f");
    EXPECT_EQ(FormatDiagnostic("r.xml", warning),
              "r.xml:7: warning: class \"a\\x0ab\" is \\x7f [unknown-class]");
    EXPECT_EQ(FormatDiagnostic("r.xml", E(0, "unreadable", "cannot read")),
              "r.xml: error: cannot read [unreadable]");

    // Rule files need not be UTF-8; the JSON still is.
    RuleFileCheck check{"r\xe9.xml", true, {warning, N(3, "\xff")}};
    const auto list = nlohmann::json::parse(DiagnosticsAsJson({check, {"s.xml", true, {}}}));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], (nlohmann::json{{"file", "r\xef\xbf\xbd.xml"},
                                       {"line", 7},
                                       {"severity", "warning"},
                                       {"code", "unknown-class"},
                                       {"message", "class \"a\nb\" is \x7f"}}));
    EXPECT_EQ(list[1]["severity"], "note");
    EXPECT_EQ(list[1]["message"], "\xef\xbf\xbd");
}

}  // namespace
}  // namespace dormex
