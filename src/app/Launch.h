#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/StandardConsole.h"

namespace dormex {

class FileSystem;
struct MachineSnapshot;

// Runs Dormex on `platform`. With DORMEX_RECORD set, every machine service
// is recorded, and a run that got as far as reading the user profile writes
// the recording to that file as a machine snapshot. With DORMEX_RESULTS set,
// such a run writes its results document to that file.
int32_t RunOnPlatform(const Platform& platform, const std::vector<std::string>& arguments);

// Runs Dormex on a machine's services with the process console and its
// interruptions.
template <typename Machine>
int32_t RunOn(Machine& machine, Interruption& interruption,
              const std::vector<std::string>& arguments)
{
    StandardConsole console;
    return RunOnPlatform(machine.PlatformWith(console, interruption), arguments);
}

// Replays a snapshot, announced on standard error under `name`.
int32_t RunOnSnapshot(MachineSnapshot snapshot, const std::string& name, FileSystem& files,
                      Interruption& interruption, const std::vector<std::string>& arguments);

// The machine used when no snapshot is named: the live machine on Windows,
// the sample built into the program elsewhere. The build compiles the one
// that fits.
int32_t RunOnDefaultMachine(FileSystem& files, Interruption& interruption,
                            const std::vector<std::string>& arguments);

}  // namespace dormex
