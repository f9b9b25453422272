#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lab/RunRecords.h"

namespace dormex {

// What a library of runs found, grouped for the people who act on it. Runs
// are added one at a time and only their names, machine and findings' keys
// are kept, so that ten thousand results files fit in little memory.
class Summary {
public:
    void Add(const RunRecord& run);

    struct Run {
        std::string Name;  // the capture, else the results file
        std::string Stop;  // empty for a completed run
    };
    struct Finding {
        std::string Line;  // as the first run that has it has it
        std::string ActionBy;
        std::string Rule;  // "class / service / pattern (type)"; "" without a rule
        std::vector<size_t> Runs;
    };
    struct Group {
        std::string Name;
        std::vector<size_t> Members;  // runs (machines) or findings (owners, rules)
        size_t Occurrences = 0;       // runs having one of the findings
    };

    const std::vector<Run>& Runs() const { return runs_; }
    // The groups, the largest first.
    std::vector<Group> Machines() const;
    std::vector<const Finding*> Findings() const;
    std::vector<Group> Owners() const;
    std::vector<Group> Rules() const;

private:
    std::vector<Group> GroupFindings(std::string Finding::*by) const;

    std::vector<Run> runs_;
    std::vector<Group> machines_;
    std::vector<Finding> findings_;
    std::unordered_map<std::string, size_t> findingIndex_;  // the diff's key -> finding
    std::unordered_map<std::string, size_t> machineIndex_;  // identity -> machine
};

enum class SummaryFormat { Text, Markdown, Json, Html };
std::optional<SummaryFormat> ParseSummaryFormat(std::string_view name);

// The Markdown form stays under TrackerCommentLimit.
std::string FormatSummary(const Summary& summary, SummaryFormat format);

}  // namespace dormex
