#include "rules/RuleParser.h"

#include <tinyxml2.h>

#include "common/FileLimits.h"
#include "common/StatusCodes.h"
#include "common/Text.h"
#include "log/DebugLog.h"
#include "platform/FileSystem.h"
#include "rules/RuleSet.h"
#include "rules/RuleValidation.h"

namespace dormex {

namespace {

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

// The first `tag` child of `parent`; without one, logs `missing` and gives
// nullptr.
const tinyxml2::XMLElement* RequiredChild(const tinyxml2::XMLNode& parent, const char* tag,
                                          LogLevel level, const std::string& missing, DebugLog& log)
{
    const tinyxml2::XMLElement* child = parent.FirstChildElement(tag);
    if (child == nullptr) {
        log.WriteLog(level, missing, XmlElementMissing);
    }
    return child;
}

// Sets `text` to the text of the first `tag` child of `parent`, and `line`,
// when given, to that child's line; without one, logs `missing` and returns
// false.
bool ReadRequiredText(const tinyxml2::XMLElement& parent, const char* tag, std::string& text,
                      LogLevel level, const std::string& missing, DebugLog& log,
                      int32_t* line = nullptr)
{
    const tinyxml2::XMLElement* child = RequiredChild(parent, tag, level, missing, log);
    if (child == nullptr) {
        return false;
    }
    text = TextOf(*child);
    if (line != nullptr) {
        *line = child->GetLineNum();
    }
    return true;
}

// Gives `status` back; a failure notes the line of `node` as where loading
// stopped, unless a node inside it was noted first.
int32_t StopAt(const tinyxml2::XMLNode& node, int32_t status, int32_t* stopLine)
{
    if (status != 0 && stopLine != nullptr && *stopLine == 0) {
        *stopLine = node.GetLineNum();
    }
    return status;
}

// The fields of a rule before its platform states. Each message may name a
// field read before it.
bool ReadRuleFields(const tinyxml2::XMLElement& element, Rule& rule, DebugLog& log)
{
    bool complete =
        ReadRequiredText(element, "class", rule.Class, LogLevel::UserInfo,
                         "class tag was not found in xml. Please check XML file for <class> tag, "
                         "make sure that they are not corrupt.",
                         log, &rule.ClassLine) &&
        ReadRequiredText(element, "regex", rule.Regex, LogLevel::UserInfo,
                         "regex tag was not found in xml. Please check XML file for <regex> tag, "
                         "make sure that they are not corrupt.",
                         log, &rule.RegexLine) &&
        ReadRequiredText(element, "servicename", rule.ServiceName, LogLevel::UserInfo,
                         "servicename tag was not found in xml. Please check XML file for "
                         "<servicename> tag, make sure that they are not corrupt for class" +
                             rule.Class,
                         log) &&
        ReadRequiredText(element, "ruletype", rule.RuleType, LogLevel::UserInfo,
                         "ruletype tag was not found in xml. Please check XML file for <ruletype> "
                         "tag, make sure that they are not corrupt for regex/servicename" +
                             rule.Regex + "/" + rule.ServiceName,
                         log, &rule.RuleTypeLine) &&
        ReadRequiredText(element, "platformstatecount", rule.PlatformStateCountText,
                         LogLevel::UserInfo,
                         "platformstatecount tag was not found in xml. Please check XML file for "
                         "<platformstatecount> tag for Regex/ServiceName " +
                             rule.Regex + "/" + rule.ServiceName,
                         log, &rule.CountLine);
    if (complete) {
        rule.PlatformStateCount = ReadDecimal(rule.PlatformStateCountText);
    }
    return complete;
}

// Every sibling from `first` on is a platform state.
int32_t ParsePlatformStates(const tinyxml2::XMLNode& first, Rule& rule, DebugLog& log,
                            int32_t* stopLine)
{
    for (const tinyxml2::XMLNode* node = &first; node != nullptr; node = node->NextSibling()) {
        PlatformStateConstraint constraint;
        if (int32_t status = ParsePlatformState(*node, constraint, log, stopLine); status != 0) {
            log.WriteLog(LogLevel::UserInfo,
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

}  // namespace

int32_t LoadRuleFile(std::string path, RuleSet& rules, DebugLog& log, FileSystem& files,
                     int32_t* stopLine)
{
    if (path.empty()) {
        log.WriteLog(LogLevel::Error, "No File name was specified for accessing rules",
                     ErrorInvalidParameter);
        return ErrorInvalidParameter;
    }
    log.WriteLog(LogLevel::Information, "Parsing  xml values from: " + path, 0);
    if (int32_t status = ParseRuleFile(path, rules, log, files, stopLine); status != 0) {
        log.WriteLog(LogLevel::Error, "Cannot parse xml information from XML location : " + path,
                     status);
        return status;
    }
    log.WriteLog(LogLevel::Information, "validating rules", 0);
    if (int32_t status = ValidateRuleSet(rules, log, stopLine); status != 0) {
        log.WriteLog(LogLevel::Error, "Validating Xml Files did not complete Successfully.",
                     status);
        return status;
    }
    return 0;
}

int32_t ParseRuleFile(const std::string& path, RuleSet& rules, DebugLog& log, FileSystem& files,
                      int32_t* stopLine)
{
    // A FIFO or a device would be read forever, a huge file into memory.
    if (std::optional<std::string> refusal = InputFileRefusal(files.NativePath(path))) {
        log.WriteLog(LogLevel::Error, "The rule file is " + *refusal + ": " + path,
                     ErrorInvalidData);
        return ErrorInvalidData;
    }
    tinyxml2::XMLDocument document;
    if (document.LoadFile(files.NativePath(path).c_str()) != tinyxml2::XML_SUCCESS) {
        log.WriteLog(LogLevel::Error, "Cannot create a doc handle", ErrorInvalidData);
        if (stopLine != nullptr) {
            *stopLine = document.ErrorLineNum();
        }
        return ErrorInvalidData;
    }
    const tinyxml2::XMLElement* platform = RequiredChild(document, "platform", LogLevel::Error,
                                                         "platform node was not found in xml", log);
    if (platform == nullptr) {
        // The element that stands where the platform should, or else the first line.
        const tinyxml2::XMLElement* root = document.FirstChildElement();
        if (stopLine != nullptr) {
            *stopLine = root != nullptr ? root->GetLineNum() : 1;
        }
        return XmlElementMissing;
    }
    const char* name = platform->Attribute("name");
    if (name == nullptr) {
        log.WriteLog(LogLevel::Error, "name attribute of platform node was not found in xml",
                     XmlElementMissing);
        return StopAt(*platform, XmlElementMissing, stopLine);
    }
    rules.PlatformName = name;

    const tinyxml2::XMLElement* os =
        RequiredChild(*platform, "os", LogLevel::Error, "OS node was not found in xml", log);
    if (os == nullptr) {
        return StopAt(*platform, XmlElementMissing, stopLine);
    }
    for (; os != nullptr; os = os->NextSiblingElement("os")) {
        OsEntry entry;
        if (int32_t status = ParseOsEntry(*os, entry, rules, log, stopLine); status != 0) {
            log.WriteLog(LogLevel::Error, "OS information was not set.", status);
            return status;
        }
    }
    return 0;
}

int32_t ParseOsEntry(const tinyxml2::XMLElement& os, OsEntry& entry, RuleSet& rules, DebugLog& log,
                     int32_t* stopLine)
{
    entry.Build = AttributeOf(os, "build");
    entry.Version = AttributeOf(os, "version");
    entry.Line = os.GetLineNum();
    if (os.FirstChild() == nullptr) {
        log.WriteLog(LogLevel::Error,
                     "rule tag was not found in xml for OS version :" + entry.Build,
                     XmlElementMissing);
        return StopAt(os, XmlElementMissing, stopLine);
    }
    for (const tinyxml2::XMLNode* node = os.FirstChild(); node != nullptr;
         node = node->NextSibling()) {
        Rule rule;
        if (int32_t status = ParseRule(*node, rule, log, stopLine); status != 0) {
            log.WriteLog(LogLevel::Error, "Issue with Rule a rule for OS version : " + entry.Build,
                         status);
            return status;
        }
        entry.Rules.push_back(std::move(rule));
    }
    rules.OsEntries.push_back(entry);
    return 0;
}

int32_t ParseRule(const tinyxml2::XMLNode& node, Rule& rule, DebugLog& log, int32_t* stopLine)
{
    const tinyxml2::XMLElement* element = node.ToElement();
    if (element == nullptr) {
        // A comment or text directly inside <os>: every child there is a rule.
        log.WriteLog(LogLevel::UserInfo,
                     "A rule tag of NULL was specified. Please check XML file for comments or text "
                     "inside <os> tag",
                     XmlElementMissing);
        return StopAt(node, XmlElementMissing, stopLine);
    }
    rule.RuleOnParent = AttributeOf(*element, "RuleOnParent");
    rule.Line = element->GetLineNum();
    if (!ReadRuleFields(*element, rule, log)) {
        return StopAt(node, XmlElementMissing, stopLine);
    }
    const tinyxml2::XMLElement* firstState = RequiredChild(
        *element, "platformstate", LogLevel::UserInfo,
        "platformstate tag was not found in xml. Please make sure that number of platformstate "
        "tags are equal to platform state count: " +
            std::to_string(rule.PlatformStateCount) + " For Regex/servicename " + rule.Regex + "/" +
            rule.ServiceName,
        log);
    if (firstState == nullptr) {
        return StopAt(node, XmlElementMissing, stopLine);
    }
    return StopAt(node, ParsePlatformStates(*firstState, rule, log, stopLine), stopLine);
}

int32_t ParsePlatformState(const tinyxml2::XMLNode& node, PlatformStateConstraint& state,
                           DebugLog& log, int32_t* stopLine)
{
    const tinyxml2::XMLElement* element = node.ToElement();
    if (element == nullptr) {
        log.WriteLog(LogLevel::UserInfo,
                     "A platform State tag of NULL was specified. Please check XML file for "
                     "<Platform> tag",
                     ErrorInvalidParameter);
        return StopAt(node, ErrorInvalidParameter, stopLine);
    }
    std::string index;
    if (!ReadRequiredText(*element, "platformstateindex", index, LogLevel::UserInfo,
                          "platformstateindex node was not found in xml. Please check "
                          "<platformstateindex> tag in xml & make sure that it is monotonically "
                          "increasing.",
                          log, &state.IndexLine)) {
        return StopAt(node, XmlElementMissing, stopLine);
    }
    state.PlatformStateIndex = ReadDecimal(index);
    if (!ReadRequiredText(*element, "Dstate", state.DState, LogLevel::UserInfo,
                          "DState node was not found in xml. Please check <Dstate> tag in xml & "
                          "make sure that it is in range of 0 to 3 (D States representations)",
                          log, &state.DStateLine) ||
        !ReadRequiredText(*element, "Fstate", state.FState, LogLevel::Error,
                          "FState node was not found in xml. Please check <Fstate> tag in xml & "
                          "make sure that it is valid F state (F States representations)",
                          log, &state.FStateLine)) {
        return StopAt(node, XmlElementMissing, stopLine);
    }
    return 0;
}

}  // namespace dormex
