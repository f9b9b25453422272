#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "results/ResultsDiff.h"

namespace dormex {

// One results file as the lab reads it. Members that files of earlier
// versions lack read as "Unknown".
struct RunRecord {
    std::filesystem::path File;
    std::string Time;  // when the run started, ISO 8601: ordered as text
    std::string Capture;
    std::string Manufacturer;
    std::string ProductName;
    std::string Processor;  // "family 6 model 170 stepping 4"
    std::string BiosVendor;
    std::string BiosVersion;
    std::string OsBuild;
    std::string RuleFile;                   // empty when the run chose none
    std::vector<std::string> LpitStates;    // the unique id of each state ("Unknown"), in order
    std::optional<std::string> Stop;        // the stop's name, for a run that stopped
    std::vector<ComparedFinding> Findings;  // none for a run that stopped
};

// The machine a run was made on, across its BIOS and OS builds: its maker,
// product and processor.
std::string MachineName(const RunRecord& run);

std::variant<RunRecord, std::string> ReadRunRecord(const std::filesystem::path& file);

// The results files of the arguments: files as given, folders searched for
// files named dormex-results.json; a missing argument is a fault.
std::variant<std::vector<std::filesystem::path>, std::string> FindResultsFiles(
    const std::vector<std::string>& arguments);

}  // namespace dormex
