#include "app/Launch.h"
#include "platform/win32/Win32Machine.h"

namespace dormex {

int32_t RunOnDefaultMachine(FileSystem& files, Interruption& interruption,
                            const std::vector<std::string>& arguments)
{
    Win32Machine machine(files);
    return RunOn(machine, interruption, arguments);
}

}  // namespace dormex
