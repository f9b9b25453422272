#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "lab/Library.h"
#include "platform/FileSystem.h"

namespace dormex {

// How one capture of a lab run ended.
struct CaptureOutcome {
    enum class Kind { Done, UpToDate, Failed, Stopped };
    Kind Result = Kind::Done;
    std::string Message;  // why it failed or stopped
};

struct LabRunOptions {
    std::filesystem::path Output;  // the lab's output folder
    std::filesystem::path Rules;   // the rule folder every capture is run with
    unsigned Jobs = 1;
    bool Force = false;  // run captures whose results are up to date as well
    std::chrono::milliseconds TimeLimit{std::chrono::minutes(5)};
};

// Replays one capture as DORMEX_MACHINE=<capture's name> dormex would, run
// from its output folder with that folder as the user profile and the rule
// folder as its rules_for_soc, and puts the report, debug log and results
// into the folder, each whole. Past the time limit the run stops at its next
// step, as on the console's Ctrl+C, and leaves nothing.
CaptureOutcome RunCapture(const Capture& capture, const LabRunOptions& options, FileSystem& files);

// Runs the captures, `options.Jobs` at a time; `finished` hears of each in the
// order they end (never two at once). The outcomes are in the captures' order.
std::vector<CaptureOutcome> RunLab(
    const std::vector<Capture>& captures, const LabRunOptions& options, FileSystem& files,
    const std::function<void(const Capture&, const CaptureOutcome&)>& finished);

}  // namespace dormex
