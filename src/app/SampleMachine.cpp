#include "app/EmbeddedSample.h"
#include "app/Launch.h"
#include "common/StatusCodes.h"
#include "platform/StandardConsole.h"
#include "platform/snapshot/MachineSnapshot.h"

namespace dormex {

// Where there is no live machine to ask, the sample built into the program.
int32_t RunLive(FileSystem& files, Interruption& interruption,
                const std::vector<std::string>& arguments)
{
    auto parsed = ParseMachineSnapshot(EmbeddedSampleMachine());
    if (auto* error = std::get_if<SnapshotError>(&parsed)) {
        StandardConsole().WriteError("dormex: machine snapshot embedded sample: " + error->Path +
                                     ": " + error->Message + "\n");
        return ExitBadInput;
    }
    return RunReplayed(std::get<MachineSnapshot>(std::move(parsed)), "embedded sample", files,
                       interruption, arguments);
}

}  // namespace dormex
