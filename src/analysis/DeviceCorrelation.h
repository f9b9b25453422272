#pragma once

#include <cstdint>
#include <string>

#include "analysis/ConstraintAnalysis.h"

namespace dormex {

class DebugLog;
struct RundownLists;

// Each files one kind of rundown under its device key. They return a status
// for the driver's stop, but always 0: records come from containers, which
// have no failure to report.
int32_t FillPoFxMap(ConstraintAnalysis& analysis, const RundownLists& rundowns, DebugLog& log);
int32_t FillPepDeviceMap(ConstraintAnalysis& analysis, const RundownLists& rundowns, DebugLog& log);
int32_t FillPepComponentMap(ConstraintAnalysis& analysis, const RundownLists& rundowns,
                            DebugLog& log);

}  // namespace dormex
