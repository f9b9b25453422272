#include <iostream>

#include "app/EmbeddedSample.h"
#include "app/Launch.h"
#include "common/StatusCodes.h"
#include "platform/snapshot/MachineSnapshot.h"

namespace dormex {

int32_t RunOnDefaultMachine(FileSystem& files, Interruption& interruption,
                            const std::vector<std::string>& arguments)
{
    auto parsed = ParseMachineSnapshot(EmbeddedSampleMachine());
    if (auto* error = std::get_if<SnapshotError>(&parsed)) {
        std::cerr << "dormex: machine snapshot embedded sample: " << error->Path << ": "
                  << error->Message << "\n";
        return ExitBadInput;
    }
    return RunOnSnapshot(std::get<MachineSnapshot>(std::move(parsed)), "embedded sample", files,
                         interruption, arguments);
}

}  // namespace dormex
