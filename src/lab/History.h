#pragma once

#include <string>
#include <vector>

#include "lab/RunRecords.h"

namespace dormex {

enum class HistoryOrder { Time, Bios };

struct History {
    std::string Text;
    // The findings that the latest run of a machine has and its previous
    // completed run lacked, one line each ("<machine>: <finding>").
    std::vector<std::string> NewInLatest;
};

// The runs of each machine (MachineName) in order of start time, or of BIOS
// version in natural order (then time); for each finding (the diff's key),
// the run where it was first seen, where it was fixed and where it came back.
// Runs that stopped are listed but say nothing of the findings.
History BuildHistory(std::vector<RunRecord> runs, HistoryOrder order);

}  // namespace dormex
