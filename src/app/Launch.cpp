#include "app/Launch.h"

#include <cstdlib>
#include <fstream>
#include <iostream>

#include "app/Driver.h"
#include "app/RunState.h"
#include "common/StatusCodes.h"
#include "platform/record/MachineRecorder.h"
#include "platform/replay/ReplayMachine.h"

namespace dormex {

namespace {

int32_t Run(Platform& platform, const std::vector<std::string>& arguments, RunState& state)
{
    int32_t status = RunDormex(arguments, state, platform);
    std::cout.flush();
    return status;
}

int32_t RunAndRecord(const Platform& platform, const std::vector<std::string>& arguments,
                     const std::string& recordingPath)
{
    MachineRecorder recorder(platform);
    Platform recording = recorder.RecordingPlatform();
    RunState state(recording);
    int32_t status = Run(recording, arguments, state);
    // A run that stopped before the profile asked the machine nothing.
    if (state.System.UserProfile.empty()) {
        return status;
    }
    std::ofstream file(recordingPath, std::ios::binary | std::ios::trunc);
    file << WriteMachineSnapshot(recorder.Snapshot());
    file.close();
    if (!file) {
        std::cerr << "dormex: cannot write the machine recording " << recordingPath << "\n";
        return status != 0 ? status : ExitBadInput;
    }
    std::cerr << "dormex: recorded the machine in " << recordingPath << "\n";
    return status;
}

}  // namespace

int32_t RunOnPlatform(const Platform& platform, const std::vector<std::string>& arguments)
{
    const char* recordingPath = std::getenv("DORMEX_RECORD");
    if (recordingPath != nullptr && *recordingPath != '\0') {
        return RunAndRecord(platform, arguments, recordingPath);
    }
    Platform running = platform;
    RunState state(running);
    return Run(running, arguments, state);
}

int32_t RunOnSnapshot(MachineSnapshot snapshot, const std::string& name, FileSystem& files,
                      const std::vector<std::string>& arguments)
{
    std::cerr << "dormex: replaying machine snapshot " << name << "\n";
    ReplayMachine machine(std::move(snapshot), files);
    return RunOn(machine, arguments);
}

}  // namespace dormex
