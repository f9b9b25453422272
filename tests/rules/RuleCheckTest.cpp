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
           "</regex><servicename>HDAudBus</servicename><ruletype>always</ruletype>"
           "<platformstatecount>1</platformstatecount><platformstate><platformstateindex>0"
           "</platformstateindex><Dstate>3</Dstate><Fstate>0</Fstate></platformstate></rule>";
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

const std::string NotParsed = "Cannot parse xml information from XML location : <path>";
const std::string NotValid = "Validating Xml Files did not complete Successfully.";
const std::string RunWarns =
    "; a run warns about it and compares device ids with it only as plain text";

TEST(CheckRuleFile, GivesEachFaultWithItsLine)
{
    struct Case {
        std::string name;
        std::string xml;
        std::vector<RuleDiagnostic> expected;  // <path> stands for the file
    };
    const std::string deep = std::string(260, '(') + "a" + std::string(260, ')');
    const Case cases[] = {
        {"clean", Clean, {}},
        // State texts that validation and the checks read differently, or not as written.
        {"letter",
         Broken("<Dstate>3<", "<Dstate>D3<"),
         {W(12, "state-not-decimal",
            "D-state \"D3\" is not a plain decimal number; it is read as 0")}},
        {"hex",
         Broken("<Dstate>3<", "<Dstate>0x3<"),
         {W(12, "state-not-decimal",
            "D-state \"0x3\" is not a plain decimal number; validation reads it as 3 but the "
            "power-state checks compare 0")}},
        {"octal",
         Broken("<Fstate>1<", "<Fstate>010<"),
         {W(18, "state-not-decimal",
            "F-state \"010\" is not a plain decimal number; validation reads it as 8 but the "
            "power-state checks compare 10")}},
        // Classes.
        {"class case",
         Broken("<class>audio<", "<class>Audio<"),
         {W(5, "unknown-class", "class \"Audio\" is not a known class; did you mean \"audio\"?")}},
        {"class unknown",
         Broken("<class>audio<", "<class>camera<"),
         {W(5, "unknown-class", "class \"camera\" is not a known class")}},
        // State counts, both ways.
        {"count small",
         Broken("<platformstatecount>2<", "<platformstatecount>1<"),
         {W(9, "state-count-mismatch",
            "platformstatecount is 1 but the rule has 2 platformstate elements; those after the "
            "first 1 are neither validated nor compared")}},
        {"a state after the count is read by nothing",
         Broken("<Dstate>3</Dstate>\n        <Fstate>1<", "<Dstate>D3</Dstate>\n        <Fstate>1<",
                Broken("<platformstatecount>2<", "<platformstatecount>1<")),
         {W(9, "state-count-mismatch",
            "platformstatecount is 1 but the rule has 2 platformstate elements; those after the "
            "first 1 are neither validated nor compared")}},
        {"a fourth state is validated but not compared",
         Broken("    </rule>\n",
                "      <platformstate><platformstateindex>2</platformstateindex><Dstate>3</Dstate>"
                "<Fstate>0</Fstate></platformstate>\n      <platformstate><platformstateindex>3"
                "</platformstateindex><Dstate>3</Dstate><Fstate>010</Fstate></platformstate>\n"
                "    </rule>\n",
                Broken("<platformstatecount>2<", "<platformstatecount>4<")),
         {W(21, "state-not-decimal",
            "F-state \"010\" is not a plain decimal number; validation reads it as 8")}},
        // Rules that select nothing or repeat another.
        {"matches nothing",
         Broken("<regex>.*HDAS</regex>\n      <servicename>HDAudBus<",
                "<regex/>\n      <servicename><"),
         {W(4, "matches-nothing",
            "the rule has neither a pattern nor a service name, so it matches no device")}},
        {"WiFi adapter named by the registry",
         Broken("<class>audio<", "<class>WiFi-Radio<",
                Broken("<regex>.*HDAS</regex>\n      <servicename>HDAudBus<",
                       "<regex/>\n      <servicename><")),
         {}},
        {"duplicate",
         Broken("    </rule>\n", "    </rule>" + RuleLine(" RuleOnParent=\"1\"", ".*HDAS") + "\n"),
         {W(20, "duplicate-rule",
            "the rule repeats the class, pattern and service name of the rule at line 4 for the "
            "same OS build")}},
        // Patterns.
        {"invalid pattern",
         Broken(">.*HDAS<", ">.*(HDAS<"),
         {E(6, "invalid-pattern",
            "pattern \".*(HDAS\" is not a valid regular expression (missing closing parenthesis at "
            "offset 7)" +
                RunWarns)}},
        {"deep pattern",
         Broken(">.*HDAS<", ">" + deep + "<"),
         {E(6, "invalid-pattern",
            "pattern \"" + std::string(60, '(') +
                "...\" (521 bytes) is not a valid regular expression (parentheses are too "
                "deeply nested at offset 251), deeper than the 250 levels the matcher takes" +
                RunWarns)}},
        {"slow pattern",
         Broken(">.*HDAS<", ">.*\\\\(\\w+\\s?)+HDAS<"),
         {W(6, "slow-pattern",
            "pattern \".*\\\\(\\w+\\s?)+HDAS\" nests unbounded repetition (offset 4), which is slow "
            "to match: on a device id that almost matches, a run can give up and count no match")}},
        // OS builds that another entry takes first.
        {"repeated build",
         Broken("  </os>\n", "  </os><os build=\"22621\">" + RuleLine("", "x") + "</os>\n"),
         {W(21, "repeated-build",
            "OS build \"22621\" repeats the build of the os element at line 3, which rule matching "
            "takes first")}},
        {"build within a later one",
         Broken("  </os>\n", "  </os><os build=\"226210\">" + RuleLine("", "x") + "</os>\n"),
         {W(21, "shadowed-build",
            "OS build \"226210\" contains the build \"22621\" of the os element at line 3; rule "
            "matching takes that one first whenever this one fits")}},
        // What a run refuses: its own messages, at the line it stopped.
        {"malformed",
         Broken("    </rule>\n", "    </rules>\n"),
         {E(4, "malformed-xml",
            "malformed XML: XML_ERROR_MISMATCHED_ELEMENT (XMLElement name=rule)"),
          N(4, "Cannot create a doc handle"), N(4, NotParsed)}},
        {"index order",
         Broken("<platformstateindex>1<", "<platformstateindex>2<"),
         {E(16, "rule-file-invalid", "PlatformStateIndex is not in order, Index provided is : 2"),
          N(16, NotValid)}},
        {"no platform",
         "<?xml version=\"1.0\"?>\n<platforms>\n</platforms>\n",
         {E(2, "rule-file-invalid", "platform node was not found in xml"), N(2, NotParsed)}},
    };
    for (const Case& c : cases) {
        test::LogCapture capture;
        const std::string path = capture.AddFile("rules.xml", c.xml);
        RuleFileCheck check = CheckRuleFile(path, capture.Files);
        std::vector<RuleDiagnostic> expected = c.expected;
        for (RuleDiagnostic& diagnostic : expected) {
            if (diagnostic.Message == NotParsed) {
                diagnostic.Message.replace(diagnostic.Message.find("<path>"), 6, path);
            }
        }
        EXPECT_TRUE(check.Readable) << c.name;
        EXPECT_EQ(check.Diagnostics, expected) << c.name;
    }
}

TEST(NestedUnboundedRepetition, FindsTheOuterGroup)
{
    constexpr size_t none = std::string::npos;
    const std::pair<std::string, size_t> cases[] = {
        // Exponential on a text that almost matches.
        {"(a+)+", 0},
        {"(a*)*", 0},
        {"x(?:a{2,})*", 1},
        {"(a|b+)*", 0},
        {"(a+){2,}", 0},
        {"((a+){2})+", 0},
        {"((a+)?)+", 0},
        {"x(y|(a+))*", 1},
        // Linear: something required follows the inner repetition, it gives
        // nothing back, or the outer one is bounded.
        {"(a+b)+", none},
        {"\\\\_SB\\.(\\w+\\.)+HDAS", none},
        {"(a++)+", none},
        {"(?>a+)+", none},
        {"(a)+", none},
        {"(a{1,5})*", none},
        {"(a+)?", none},
        {"\\(a+\\)+", none},
        {"[(]a+)+", none},
        {"(a{,})+", none},
        {"a{", none},
        {"(", none},
        {"\\", none},
        {"", none},
    };
    for (const auto& [pattern, offset] : cases) {
        EXPECT_EQ(NestedUnboundedRepetition(pattern), offset) << pattern;
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
