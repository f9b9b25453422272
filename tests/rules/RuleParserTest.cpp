#include <gtest/gtest.h>

#include <regex>

#include "TestPlatform.h"
#include "rules/RuleFileText.h"
#include "rules/RuleParser.h"
#include "rules/RuleSet.h"

namespace dormex {
namespace {

std::string Without(const std::string& xml, const std::string& element)
{
    return std::regex_replace(xml, std::regex("\\n *<" + element + ">[^<]*</" + element + ">"), "",
                              std::regex_constants::format_first_only);
}

struct Load {
    test::LogCapture capture;
    RuleSet rules;
    std::string path;
    int32_t status = -1;

    explicit Load(const std::string& xml, bool validate = true)
    {
        path = capture.AddFile("rules.xml", xml);
        status = validate ? LoadRuleFile(path, rules, capture.Log, capture.Files)
                          : ParseRuleFile(path, rules, capture.Log, capture.Files);
    }
};

TEST(RuleParser, ReadsEntriesRulesAndStatesAsWritten)
{
    Load load(R"(<platform name="Kestrel">
      <!-- a comment beside the entries is ignored -->
      <os version="10" build="19045">
        <rule>
          <ruletype>dynamic</ruletype>
          <platformstatecount>3</platformstatecount>
          <servicename>iaStor</servicename>
          <regex>  spaced .* </regex>
          <class>storage</class>
          <class>audio</class>
          <platformstate><platformstateindex>0</platformstateindex><Dstate>3</Dstate><Fstate>0</Fstate></platformstate>
          <platformstate><platformstateindex> 1</platformstateindex><Dstate></Dstate><Fstate>0x1</Fstate></platformstate>
        </rule>
        <rule RuleOnParent="1">
          <class>audio</class><regex/><servicename><b>x</b></servicename><ruletype>always</ruletype>
          <platformstatecount></platformstatecount>
          <platformstate><platformstateindex>0</platformstateindex><Dstate>0</Dstate><Fstate>0</Fstate></platformstate>
        </rule>
      </os>
      <other/>
      <os build="">
        <rule><class>cpu</class><regex>a&amp;b</regex><servicename/><ruletype>requiredNo</ruletype>
          <platformstatecount>1</platformstatecount>
          <platformstate><platformstateindex>0</platformstateindex><Dstate>3</Dstate><Fstate>0</Fstate></platformstate>
        </rule>
      </os>
    </platform>)",
              /*validate=*/false);
    ASSERT_EQ(load.status, 0) << load.capture.Text();
    const RuleSet& rules = load.rules;
    EXPECT_EQ(rules.PlatformName, "Kestrel");
    ASSERT_EQ(rules.OsEntries.size(), 2u);
    EXPECT_EQ(rules.OsEntries[0].Version, "10");
    EXPECT_EQ(rules.OsEntries[0].Build, "19045");
    EXPECT_EQ(rules.OsEntries[1].Version, "");
    EXPECT_EQ(rules.OsEntries[1].Build, "");

    ASSERT_EQ(rules.OsEntries[0].Rules.size(), 2u);
    const Rule& first = rules.OsEntries[0].Rules[0];
    EXPECT_EQ(first.Class, "storage");
    EXPECT_EQ(first.RuleOnParent, "");
    EXPECT_EQ(first.Regex, "  spaced .* ");
    EXPECT_EQ(first.ServiceName, "iaStor");
    EXPECT_EQ(first.RuleType, "dynamic");
    EXPECT_EQ(first.PlatformStateCount, 3);
    ASSERT_EQ(first.PlatformStates.size(), 2u);
    EXPECT_EQ(first.PlatformStates[1].PlatformStateIndex, 1);
    EXPECT_EQ(first.PlatformStates[1].DState, "");
    EXPECT_EQ(first.PlatformStates[1].FState, "0x1");

    const Rule& second = rules.OsEntries[0].Rules[1];
    EXPECT_EQ(second.RuleOnParent, "1");
    EXPECT_EQ(second.Regex, "");
    EXPECT_EQ(second.ServiceName, "");
    EXPECT_EQ(second.PlatformStateCount, 0);

    EXPECT_EQ(rules.OsEntries[1].Rules[0].Regex, "a&b");
}

TEST(RuleParser, MissingElementGivesItsMessageAndTheCascade)
{
    struct Case {
        std::string xml;
        LogLevel level;
        std::string message;
        int32_t code;
        bool inPlatformState;
    };
    const std::string stateLine =
        "Platform State information tag <platformstate> is incorrect in "
        "xml for Regex : .*HDAS for Service: HDAudBus";
    const Case cases[] = {
        {Without(test::OneRuleFile, "class"), LogLevel::UserInfo,
         "class tag was not found in xml. Please check XML file for <class> tag, make sure that "
         "they are not corrupt.",
         2013, false},
        {Without(test::OneRuleFile, "Fstate"), LogLevel::Error,
         "FState node was not found in xml. Please check <Fstate> tag in xml & make sure that it "
         "is valid F state (F States representations)",
         2013, true},
        {std::regex_replace(test::OneRuleFile, std::regex("</platformstate>\\n    </rule>"),
                            "</platformstate><!-- trailing -->\n    </rule>"),
         LogLevel::UserInfo,
         "A platform State tag of NULL was specified. Please check XML file for <Platform> tag", 87,
         true},
    };
    for (const Case& c : cases) {
        Load load(c.xml);
        EXPECT_EQ(load.status, c.code) << c.message;
        std::string code = " :: Error code: " + std::to_string(c.code);
        std::string expected = "\nINFORMATION:: Parsing  xml values from: " + load.path + "\n" +
                               LevelPrefix(c.level) + c.message + code;
        std::string console =
            c.level == LogLevel::UserInfo
                ? "\n" + c.message + "\nExit Error code: " + std::to_string(c.code)
                : "";
        if (c.inPlatformState) {
            expected += "\nUSER_INFO:: " + stateLine + code;
            console += "\n" + stateLine + "\nExit Error code: " + std::to_string(c.code);
        }
        expected += "\nERROR:: Issue with Rule a rule for OS version : 22621" + code +
                    "\nERROR:: OS information was not set." + code +
                    "\nERROR:: Cannot parse xml information from XML location : " + load.path +
                    code;
        EXPECT_EQ(load.capture.Text(), expected) << c.message;
        EXPECT_EQ(load.capture.Console.Output, console) << c.message;
    }
}

}  // namespace
}  // namespace dormex
