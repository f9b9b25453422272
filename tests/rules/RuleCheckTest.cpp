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

TEST(CheckRuleFile, PrintsTheRunsMessagesAndNamesEveryProblem)
{
    struct Case {
        std::string pattern;
        std::string type;
        bool passes;
        std::vector<std::string> lines;  // in the output, in order; <path> stands for the file
    };
    const Case cases[] = {
        {".*CNVW",
         "always",
         true,
         {"<path>:\nINFORMATION:: Parsing  xml values from: <path>\nINFORMATION:: validating rules"
          "\nWARNING:: Unique classes are not present. \n<path>: OK\n"}},
        {".*(CNVW",
         "always",
         false,
         {"\nInvalid regex \".*(CNVW\" (",
          ") in the rule of class \"WiFi-Radio\" with service name \"netwlan\" for OS build \"1\"",
          "<path>: FAILED\n"}},
        {std::string(100000, 'a'),
         "always",
         false,
         {" (pattern string is longer than the limit set by the application at offset 0) in the "
          "rule of class \"WiFi-Radio\"",
          "<path>: FAILED\n"}},
        {".*",
         "Always",
         false,
         {"\nUSER_INFO:: Rule is corrupt, class provided is : Always", "<path>: FAILED\n"}},
    };
    for (const Case& c : cases) {
        test::LogCapture capture;
        std::string xml = std::regex_replace(RuleFile(c.pattern), std::regex("always"), c.type);
        std::string path = capture.AddFile("rules.xml", xml);
        std::ostringstream out;
        EXPECT_EQ(CheckRuleFile(path, out, capture.Files), c.passes) << c.pattern;
        size_t at = 0;
        for (std::string line : c.lines) {
            line = std::regex_replace(line, std::regex("<path>"), path);
            at = out.str().find(line, at);
            ASSERT_NE(at, std::string::npos) << line << "\nin\n" << out.str();
        }
    }
}

}  // namespace
}  // namespace dormex
