#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "analysis/Findings.h"
#include "devices/DeviceProperties.h"

namespace dormex {

struct LpitTable;
struct RundownLists;
struct RunOutcome;
struct SystemInfo;

inline constexpr std::string_view ResultsFormat = "dormex-results/1";

// The records a results document is written from.
struct ResultsContents {
    const SystemInfo& System;
    const RunOutcome& Outcome;
    const LpitTable& Lpit;
    const std::string& LpitStatusText;
    const RundownLists& Rundowns;
    const ErrorRegistry& Errors;
    const DevicePropertiesByInstancePath& Devices;
    const std::string& Capture;  // the replayed snapshot as the run was given it, or "live"
};

// The results of a run that started at `startTime` (ISO 8601, UTC), as JSON:
// the capture, the machine, the rule file, how the run ended, the LPIT states, the device
// counts and every finding in the order of the report.
std::string WriteResults(const ResultsContents& contents, std::string_view startTime);

// The line a run that wrote its report ends with on standard error: how many
// findings it made and for whom ("dormex: 10 findings: 6 for the BIOS, 4 for
// driver vendors").
std::string FindingsLine(const ErrorRegistry& errors);

// 2025-06-01T08:30:00Z: the time in UTC to the second.
std::string UtcTimeText(std::chrono::system_clock::time_point time);

}  // namespace dormex
