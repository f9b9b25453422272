#include "rules/RuleParser.h"

#include <tinyxml2.h>

#include "log/DebugLog.h"
#include "common/Text.h"
#include "platform/FileSystem.h"
#include "rules/RuleSet.h"
#include "rules/RuleValidation.h"

namespace dormex {

namespace {

constexpr int32_t InvalidParameter = 87;
constexpr int32_t NotLoadable = 13;
constexpr int32_t ElementMissing = 2013;

// An element's text is its first child when that is text, else empty.
std::string TextOf(const tinyxml2::XMLElement& element)
{
    const char* text = element.GetText();
    return text != nullptr ? text : "";
}

std::string AttributeOf(const tinyxml2::XMLElement& element, const char* name)
{
    const char* value = element.Attribute(name);
    return value != nullptr ? value : "";
}

}  // namespace

int32_t LoadRuleFile(std::string path, RuleSet& rules, DebugLog& log, FileSystem& files)
{
    if (path.empty()) {
        log.WriteLog(ERROR, "No File name was specified for accessing rules", InvalidParameter);
        return InvalidParameter;
    }
    log.WriteLog(INFORMATION, "Parsing  xml values from: " + path, 0);
    if (int32_t status = ParseRuleFile(path, rules, log, files); status != 0) {
        log.WriteLog(ERROR, "Cannot parse xml information from XML location : " + path, status);
        return status;
    }
    log.WriteLog(INFORMATION, "validating rules", 0);
    if (int32_t status = ValidateRuleSet(rules, log); status != 0) {
        log.WriteLog(ERROR, "Validating Xml Files did not complete Successfully.", status);
        return status;
    }
    return 0;
}

int32_t ParseRuleFile(const std::string& path, RuleSet& rules, DebugLog& log, FileSystem& files)
{
    tinyxml2::XMLDocument document;
    if (document.LoadFile(files.NativePath(path).c_str()) != tinyxml2::XML_SUCCESS) {
        log.WriteLog(ERROR, "Cannot create a doc handle", NotLoadable);
        return NotLoadable;
    }
    const tinyxml2::XMLElement* platform = document.FirstChildElement("platform");
    if (platform == nullptr) {
        log.WriteLog(ERROR, "platform node was not found in xml", ElementMissing);
        return ElementMissing;
    }
    const char* name = platform->Attribute("name");
    if (name == nullptr) {
        log.WriteLog(ERROR, "name attribute of platform node was not found in xml", ElementMissing);
        return ElementMissing;
    }
    rules.PlatformName = name;

    const tinyxml2::XMLElement* os = platform->FirstChildElement("os");
    if (os == nullptr) {
        log.WriteLog(ERROR, "OS node was not found in xml", ElementMissing);
        return ElementMissing;
    }
    for (; os != nullptr; os = os->NextSiblingElement("os")) {
        OsEntry entry;
        if (int32_t status = ParseOsEntry(*os, entry, rules, log); status != 0) {
            log.WriteLog(ERROR, "OS information was not set.", status);
            return status;
        }
    }
    return 0;
}

int32_t ParseOsEntry(const tinyxml2::XMLElement& os, OsEntry& entry, RuleSet& rules, DebugLog& log)
{
    entry.Build = AttributeOf(os, "build");
    entry.Version = AttributeOf(os, "version");
    if (os.FirstChild() == nullptr) {
        log.WriteLog(ERROR, "rule tag was not found in xml for OS version :" + entry.Build,
                     ElementMissing);
        return ElementMissing;
    }
    for (const tinyxml2::XMLNode* node = os.FirstChild(); node != nullptr;
         node = node->NextSibling()) {
        Rule rule;
        if (int32_t status = ParseRule(*node, rule, log); status != 0) {
            log.WriteLog(ERROR, "Issue with Rule a rule for OS version : " + entry.Build, status);
            return status;
        }
        entry.Rules.push_back(std::move(rule));
    }
    rules.OsEntries.push_back(entry);
    return 0;
}

int32_t ParseRule(const tinyxml2::XMLNode& node, Rule& rule, DebugLog& log)
{
    const tinyxml2::XMLElement* element = node.ToElement();
    if (element == nullptr) {
        // A comment or text directly inside <os>: every child there is a rule.
        log.WriteLog(USER_INFO,
                     "A rule tag of NULL was specified. Please check XML file for comments or text "
                     "inside <os> tag",
                     ElementMissing);
        return ElementMissing;
    }
    rule.RuleOnParent = AttributeOf(*element, "RuleOnParent");

    const tinyxml2::XMLElement* child = element->FirstChildElement("class");
    if (child == nullptr) {
        log.WriteLog(USER_INFO,
                     "class tag was not found in xml. Please check XML file for <class> tag, make "
                     "sure that they are not corrupt.",
                     ElementMissing);
        return ElementMissing;
    }
    rule.Class = TextOf(*child);

    child = element->FirstChildElement("regex");
    if (child == nullptr) {
        log.WriteLog(USER_INFO,
                     "regex tag was not found in xml. Please check XML file for <regex> tag, make "
                     "sure that they are not corrupt.",
                     ElementMissing);
        return ElementMissing;
    }
    rule.Regex = TextOf(*child);

    child = element->FirstChildElement("servicename");
    if (child == nullptr) {
        log.WriteLog(USER_INFO,
                     "servicename tag was not found in xml. Please check XML file for "
                     "<servicename> tag, make sure that they are not corrupt for class" +
                         rule.Class,
                     ElementMissing);
        return ElementMissing;
    }
    rule.ServiceName = TextOf(*child);

    child = element->FirstChildElement("ruletype");
    if (child == nullptr) {
        log.WriteLog(USER_INFO,
                     "ruletype tag was not found in xml. Please check XML file for <ruletype> tag, "
                     "make sure that they are not corrupt for regex/servicename" +
                         rule.Regex + "/" + rule.ServiceName,
                     ElementMissing);
        return ElementMissing;
    }
    rule.RuleType = TextOf(*child);

    child = element->FirstChildElement("platformstatecount");
    if (child == nullptr) {
        log.WriteLog(USER_INFO,
                     "platformstatecount tag was not found in xml. Please check XML file for "
                     "<platformstatecount> tag for Regex/ServiceName " +
                         rule.Regex + "/" + rule.ServiceName,
                     ElementMissing);
        return ElementMissing;
    }
    rule.PlatformStateCount = ReadDecimal(TextOf(*child));

    child = element->FirstChildElement("platformstate");
    if (child == nullptr) {
        log.WriteLog(USER_INFO,
                     "platformstate tag was not found in xml. Please make sure that number of "
                     "platformstate tags are equal to platform state count: " +
                         std::to_string(rule.PlatformStateCount) + " For Regex/servicename " +
                         rule.Regex + "/" + rule.ServiceName,
                     ElementMissing);
        return ElementMissing;
    }
    // Every sibling from the first platformstate on is a platform state.
    for (const tinyxml2::XMLNode* state = child; state != nullptr; state = state->NextSibling()) {
        PlatformStateConstraint constraint;
        if (int32_t status = ParsePlatformState(*state, constraint, log); status != 0) {
            log.WriteLog(USER_INFO,
                         "Platform State information tag <platformstate> is incorrect in xml for "
                         "Regex : " +
                             rule.Regex + " for Service: " + rule.ServiceName,
                         status);
            return status;
        }
        rule.PlatformStates.push_back(std::move(constraint));
    }
    return 0;
}

int32_t ParsePlatformState(const tinyxml2::XMLNode& node, PlatformStateConstraint& state,
                           DebugLog& log)
{
    const tinyxml2::XMLElement* element = node.ToElement();
    if (element == nullptr) {
        log.WriteLog(USER_INFO,
                     "A platform State tag of NULL was specified. Please check XML file for "
                     "<Platform> tag",
                     InvalidParameter);
        return InvalidParameter;
    }
    const tinyxml2::XMLElement* child = element->FirstChildElement("platformstateindex");
    if (child == nullptr) {
        log.WriteLog(USER_INFO,
                     "platformstateindex node was not found in xml. Please check "
                     "<platformstateindex> tag in xml & make sure that it is monotonically "
                     "increasing.",
                     ElementMissing);
        return ElementMissing;
    }
    state.PlatformStateIndex = ReadDecimal(TextOf(*child));

    child = element->FirstChildElement("Dstate");
    if (child == nullptr) {
        log.WriteLog(USER_INFO,
                     "DState node was not found in xml. Please check <Dstate> tag in xml & make "
                     "sure that it is in range of 0 to 3 (D States representations)",
                     ElementMissing);
        return ElementMissing;
    }
    state.DState = TextOf(*child);

    child = element->FirstChildElement("Fstate");
    if (child == nullptr) {
        log.WriteLog(ERROR,
                     "FState node was not found in xml. Please check <Fstate> tag in xml & make "
                     "sure that it is valid F state (F States representations)",
                     ElementMissing);
        return ElementMissing;
    }
    state.FState = TextOf(*child);
    return 0;
}

}  // namespace dormex
