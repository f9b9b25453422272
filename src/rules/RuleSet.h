#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace dormex {

// The power states a rule expects in one platform state. D-state and F-state
// stay text as the rule file has them; validation and the checks read numbers.
struct PlatformStateConstraint {
    int32_t PlatformStateIndex = 0;
    std::string DState;
    std::string FState;
    // Lines of its elements in the rule file (0 for a record that was not read
    // from one), for messages to the file's author.
    int32_t IndexLine = 0;
    int32_t DStateLine = 0;
    int32_t FStateLine = 0;
};

struct Rule {
    std::string Class;
    std::string RuleOnParent;
    std::string Regex;
    std::string ServiceName;
    std::string RuleType;
    int32_t PlatformStateCount = 0;
    std::vector<PlatformStateConstraint> PlatformStates;
    std::string PlatformStateCountText;  // as written, for messages to the author
    // Lines of the rule element and of its children.
    int32_t Line = 0;
    int32_t ClassLine = 0;
    int32_t RegexLine = 0;
    int32_t RuleTypeLine = 0;
    int32_t CountLine = 0;
};

// Rules and entries keep their addresses while the lists grow: the analysis
// points into them and rewrites fields in place.
struct OsEntry {
    std::string Version;
    std::string Build;
    std::deque<Rule> Rules;
    int32_t Line = 0;  // of the os element
};

struct RuleSet {
    std::string PlatformName;
    std::deque<OsEntry> OsEntries;
};

// The power-state checks compare a rule's first three platform states, as
// many as a PEP device's PowerStates holds.
inline constexpr size_t ComparedPlatformStates = 3;

inline constexpr std::string_view RuleTypeAlways = "always";
inline constexpr std::string_view RuleTypeDynamic = "dynamic";
inline constexpr std::string_view RuleTypeRequiredNo = "requiredNo";
inline constexpr std::string_view RuleTypeClassInvalidator = "classInvalidator";
inline constexpr std::string_view RuleTypeNotRequired = "notRequired";

inline constexpr std::array<std::string_view, 5> RuleTypeNames = {
    RuleTypeAlways, RuleTypeDynamic, RuleTypeRequiredNo, RuleTypeClassInvalidator,
    RuleTypeNotRequired};

inline constexpr std::array<std::string_view, 19> RuleClassNames = {
    "audio",
    "cpu",
    "graphics",
    "imaging",
    "storage",
    "lowPowerIo",
    "security",
    "sdController",
    "pciController",
    "WiFi-Radio",
    "Discrete PCI Root Port",
    "Integrated PCI Root Port",
    "wigig",
    "power",
    "Integrated-Ethernet",
    "sekvo",
    "TCSS",
    "Modem",
    "zephlink",
};

}  // namespace dormex
