#pragma once

#include <string>

#include "devices/DeviceProperties.h"

namespace dormex {

class DebugLog;
class DeviceIo;
class ErrorRegistry;
struct ConstraintAnalysis;
struct RundownLists;

// The nine checks in their order; every disagreement goes to `errors`.
void RunChecks(ConstraintAnalysis& analysis, const RundownLists& rundowns,
               const DevicePropertiesByInstancePath& devices, ErrorRegistry& errors, DebugLog& log,
               DeviceIo& deviceIo);

// Every rule of the class becomes "requiredNo"; the class is marked invalidated.
void InvalidateClass(const std::string& className, ConstraintAnalysis& analysis);

}  // namespace dormex
