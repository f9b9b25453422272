#pragma once

#include <fstream>
#include <string>

#include "analysis/ConstraintAnalysis.h"
#include "analysis/Findings.h"
#include "devices/DeviceProperties.h"
#include "log/DebugLog.h"
#include "lpit/Lpit.h"
#include "platform/Platform.h"
#include "results/RunOutcome.h"
#include "rules/RuleSet.h"
#include "sysinfo/SystemInfo.h"
#include "trace/RundownLists.h"

namespace dormex {

// Every record the program keeps for the whole run. RunOnPlatform creates one; the
// driver hands each step the records it uses.
struct RunState {
    explicit RunState(Platform& platform) : Log(platform.console) {}

    std::ofstream LogFile;  // opened by the driver once the output folder is known
    DebugLog Log;
    SystemInfo System;
    RuleSet Rules;
    RundownLists Rundowns;
    DevicePropertiesByInstancePath Devices;
    LpitTable Lpit;
    std::string LpitStatusText;
    ConstraintAnalysis Analysis;
    ErrorRegistry Errors;
    RunOutcome Outcome;
};

}  // namespace dormex
