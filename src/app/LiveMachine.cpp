#include "app/Launch.h"
#include "platform/StandardConsole.h"
#include "platform/win32/Win32Machine.h"

namespace dormex {

int32_t RunLive(FileSystem& files, Interruption& interruption,
                const std::vector<std::string>& arguments)
{
    StandardConsole console;
    Win32Machine machine(files);
    return RunOnPlatform(machine.PlatformWith(console, interruption), arguments, "live");
}

}  // namespace dormex
