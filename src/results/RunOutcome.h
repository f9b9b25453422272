#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dormex {

// Where a run ended before its report: a name that stays the same from one
// version to the next (scripts test it), the exit code, and the message the
// console showed.
struct RunStop {
    std::string Name;
    int32_t Code = 0;
    std::string Message;
};

// What the driver notes about the course of a run beyond the records of the
// machine: the rule file it chose, whether it read the LPIT, and its stop.
struct RunOutcome {
    std::string RuleFile;  // empty until the run chose one
    bool UseTestRuleFile = false;
    bool LpitRead = false;
    std::optional<RunStop> Stop;  // nothing for a run that wrote its report
};

}  // namespace dormex
