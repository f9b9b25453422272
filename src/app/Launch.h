#pragma once

#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "app/Driver.h"
#include "app/RunState.h"
#include "platform/StandardConsole.h"

namespace dormex {

class FileSystem;
struct MachineSnapshot;

// Runs Dormex on a machine's services with the process console.
template <typename Machine>
int32_t RunOn(Machine& machine, const std::vector<std::string>& arguments)
{
    StandardConsole console;
    Platform platform = machine.PlatformWith(console);
    RunState state(platform);
    int32_t status = RunDormex(arguments, state, platform);
    std::cout.flush();
    return status;
}

// Replays a snapshot, announced on standard error under `name`.
int32_t RunOnSnapshot(MachineSnapshot snapshot, const std::string& name, FileSystem& files,
                      const std::vector<std::string>& arguments);

// The machine used when no snapshot is named: the live machine on Windows,
// the sample built into the program elsewhere. The build compiles the one
// that fits.
int32_t RunOnDefaultMachine(FileSystem& files, const std::vector<std::string>& arguments);

}  // namespace dormex
