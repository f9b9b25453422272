#pragma once

#include <string>

#include "analysis/ConstraintAnalysis.h"
#include "app/DebugLog.h"
#include "devices/DeviceProperties.h"
#include "lpit/Lpit.h"
#include "platform/Platform.h"
#include "report/ErrorRegistry.h"
#include "rules/RuleSet.h"
#include "sysinfo/SystemInfo.h"
#include "trace/Rundowns.h"

namespace dormex {

// Every record the program keeps for the whole run. main() creates one; the
// driver hands each step the records it uses.
struct RunState {
    explicit RunState(Platform& platform) : Log(platform.console, platform.files) {}

    DebugLog Log;
    SystemInfo System;
    RuleSet Rules;
    RundownLists Rundowns;
    DevicePropertiesByInstancePath Devices;
    LpitTable Lpit;
    std::string LpitStatusText;
    ConstraintAnalysis Analysis;
    ErrorRegistry Errors;
};

}  // namespace dormex
