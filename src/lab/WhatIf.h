#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "lab/LabRun.h"
#include "lab/RunRecords.h"

namespace dormex {

// What a rule change does to one capture's run: a line per finding that
// appears or disappears (whole findings are compared, states included), and
// one for a run that ends otherwise; none when the two runs agree.
std::vector<std::string> RuleChangeLines(const RunRecord& before, const RunRecord& after);

struct WhatIfReport {
    std::string Text;       // per capture that changes or cannot be compared, then the summary
    size_t Altered = 0;     // captures whose findings or ending change
    size_t Uncompared = 0;  // captures that failed or were stopped under either rule folder
};

// Replays every capture with `before` and with `after` as its rule folder
// (`options` gives the jobs and time limit) in a scratch folder of its own,
// and compares the two runs of each.
WhatIfReport RunWhatIf(const std::vector<Capture>& captures, LabRunOptions options,
                       const std::filesystem::path& before, const std::filesystem::path& after,
                       FileSystem& files);

}  // namespace dormex
