#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "TestPlatform.h"
#include "rules/RuleCheck.h"

namespace dormex {
namespace {

std::string RuleFile(const std::string& pattern)
{
    return R"(<platform name="p"><os build="1"><rule>
      <class>WiFi-Radio</class><regex>)" +
           pattern + R"(</regex><servicename>netwlan</servicename>
      <ruletype>always</ruletype><platformstatecount>1</platformstatecount>
      <platformstate><platformstateindex>0</platformstateindex><Dstate>3</Dstate><Fstate>0</Fstate></platformstate>
    </rule></os></platform>)";
}

TEST(CheckRuleFile, PassesAValidFileWithTheRunsMessages)
{
    test::LogCapture capture;
    std::string path = capture.AddFile("good.xml", RuleFile(".*CNVW"));
    std::ostringstream out;
    EXPECT_TRUE(CheckRuleFile(path, out, capture.Files));
    EXPECT_EQ(out.str(), path + ":\nINFORMATION:: Parsing  xml values from: " + path +
                             "\nINFORMATION:: validating rules"
                             "\nWARNING:: Unique classes are not present. \n" +
                             path + ": OK\n");
}

TEST(CheckRuleFile, NamesTheRuleOfAnInvalidPattern)
{
    test::LogCapture capture;
    std::string path = capture.AddFile("bad.xml", RuleFile(".*(CNVW"));
    std::ostringstream out;
    EXPECT_FALSE(CheckRuleFile(path, out, capture.Files));
    EXPECT_NE(out.str().find("\nInvalid regex \".*(CNVW\" ("), std::string::npos) << out.str();
    EXPECT_NE(out.str().find(") in the rule of class \"WiFi-Radio\" with service name \"netwlan\" "
                             "for OS build \"1\""),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find(path + ": FAILED\n"), std::string::npos);
}

TEST(CheckRuleFile, FailsAFileThatDoesNotValidate)
{
    test::LogCapture capture;
    std::string path = capture.AddFile(
        "invalid.xml", std::regex_replace(RuleFile(".*"), std::regex("always"), "Always"));
    std::ostringstream out;
    EXPECT_FALSE(CheckRuleFile(path, out, capture.Files));
    EXPECT_NE(out.str().find("\nUSER_INFO:: Rule is corrupt, class provided is : Always"),
              std::string::npos);
    EXPECT_NE(out.str().find(path + ": FAILED\n"), std::string::npos);
}

}  // namespace
}  // namespace dormex
