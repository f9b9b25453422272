#include "app/Launch.h"

#include "platform/replay/ReplayMachine.h"

namespace dormex {

int32_t RunOnSnapshot(MachineSnapshot snapshot, const std::string& name, FileSystem& files,
                      const std::vector<std::string>& arguments)
{
    std::cerr << "dormex: replaying machine snapshot " << name << "\n";
    ReplayMachine machine(std::move(snapshot), files);
    return RunOn(machine, arguments);
}

}  // namespace dormex
