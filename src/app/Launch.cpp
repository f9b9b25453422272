#include "app/Launch.h"

#include <chrono>
#include <optional>

#include "app/Driver.h"
#include "app/RunState.h"
#include "common/StatusCodes.h"
#include "platform/StandardConsole.h"
#include "platform/record/MachineRecorder.h"
#include "platform/replay/ReplayMachine.h"
#include "results/ResultsWriter.h"

namespace dormex {

namespace {

// Writes one file that the run was asked for and says on standard error
// whether it did (`done` or `failed`, then the path). A file that cannot be
// written fails a run that did not fail otherwise.
int32_t WriteRunFile(const Platform& platform, const std::string& path,
                     const std::function<void(std::ostream&)>& write, const char* done,
                     const char* failed, int32_t status)
{
    if (!platform.files.WriteFileFrom(path, write)) {
        platform.console.WriteError(failed + path + "\n");
        return status != 0 ? status : ExitBadInput;
    }
    platform.console.WriteError(done + path + "\n");
    return status;
}

}  // namespace

int32_t RunOnPlatform(const Platform& platform, const std::vector<std::string>& arguments,
                      const std::string& capture)
{
    const std::string recordingPath = EnvironmentValue(platform.files, "DORMEX_RECORD");
    const std::string resultsPath = EnvironmentValue(platform.files, "DORMEX_RESULTS");
    std::optional<MachineRecorder> recorder;
    if (!recordingPath.empty()) {
        recorder.emplace(platform);
    }
    Platform running = recorder ? recorder->RecordingPlatform() : platform;
    const std::string startTime = UtcTimeText(std::chrono::system_clock::now());
    RunState state(running);
    int32_t status = RunDormex(arguments, state, running);

    // A run that stopped before the profile asked the machine nothing and
    // leaves no files.
    if (state.System.UserProfile.empty()) {
        return status;
    }
    if (recorder) {
        const MachineSnapshot snapshot = recorder->TakeSnapshot();
        status = WriteRunFile(
            platform, recordingPath,
            [&](std::ostream& file) { WriteMachineSnapshot(snapshot, file); },
            "dormex: recorded the machine in ", "dormex: cannot write the machine recording ",
            status);
    }
    if (!resultsPath.empty()) {
        ResultsContents contents{state.System,   state.Outcome, state.Lpit,    state.LpitStatusText,
                                 state.Rundowns, state.Errors,  state.Devices, capture};
        status = WriteRunFile(
            platform, resultsPath,
            [&](std::ostream& file) { file << WriteResults(contents, startTime); },
            "dormex: wrote the results to ", "dormex: cannot write the results ", status);
    }
    if (!state.Outcome.Stop) {
        platform.console.WriteError(FindingsLine(state.Errors));
    }
    return status;
}

int32_t RunReplayed(MachineSnapshot snapshot, const std::string& name, FileSystem& files,
                    Interruption& interruption, const std::vector<std::string>& arguments)
{
    StandardConsole console;
    console.WriteError("dormex: replaying machine snapshot " + name + "\n");
    ReplayMachine machine(std::move(snapshot), files);
    return RunOnPlatform(machine.PlatformWith(console, interruption), arguments, name);
}

}  // namespace dormex
