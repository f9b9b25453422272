#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Interruption.h"
#include "platform/Platform.h"

namespace dormex {

struct MachineSnapshot;

// The two ways into a run, each on the process console; `arguments` are the
// command-line arguments after the program name, and each returns the exit
// status.

// The machine the program runs on: the live machine on Windows, the sample
// built into the program elsewhere (the build compiles the one that fits).
int32_t RunLive(FileSystem& files, Interruption& interruption,
                const std::vector<std::string>& arguments);

// A recorded machine, announced on standard error under `name`.
int32_t RunReplayed(MachineSnapshot snapshot, const std::string& name, FileSystem& files,
                    Interruption& interruption, const std::vector<std::string>& arguments);

// Where both ways end: runs Dormex on `platform`. With DORMEX_RECORD set,
// every machine service is recorded, and a run that got as far as reading
// the user profile writes the recording to that file as a machine snapshot.
// With DORMEX_RESULTS set, such a run writes its results document to that
// file, which names the machine's `capture`: the replayed snapshot, or "live".
int32_t RunOnPlatform(const Platform& platform, const std::vector<std::string>& arguments,
                      const std::string& capture);

}  // namespace dormex
