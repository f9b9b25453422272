#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/Driver.h"
#include "app/RunState.h"
#include "platform/StandardConsole.h"
#include "platform/replay/ReplayMachine.h"

#ifdef _WIN32
#include "platform/win32/Win32Machine.h"
#else
#include "app/EmbeddedSample.h"
#include "platform/posix/PosixFileSystem.h"
#endif

namespace {

template <typename Machine>
int RunOn(Machine& machine, const std::vector<std::string>& arguments)
{
    dormex::StandardConsole console;
    dormex::Platform platform = machine.PlatformWith(console);
    dormex::RunState state(platform);
    int32_t status = dormex::RunDormex(arguments, state, platform);
    std::cout.flush();
    return status;
}

int Replay(dormex::MachineSnapshot snapshot, const std::string& name, dormex::FileSystem& files,
           const std::vector<std::string>& arguments)
{
    std::cerr << "dormex: replaying machine snapshot " << name << "\n";
    dormex::ReplayMachine machine(std::move(snapshot), files);
    return RunOn(machine, arguments);
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
#ifdef _WIN32
    dormex::Win32FileSystem files;
#else
    dormex::PosixFileSystem files;
#endif

    // DORMEX_MACHINE names a snapshot to replay; otherwise Windows runs on the
    // live machine and every other system replays the embedded sample.
    const char* machinePath = std::getenv("DORMEX_MACHINE");
    if (machinePath != nullptr && *machinePath != '\0') {
        auto loaded = dormex::LoadMachineSnapshot(machinePath);
        if (auto* error = std::get_if<std::string>(&loaded)) {
            std::cerr << "dormex: " << *error << "\n";
            return 2;
        }
        return Replay(std::get<dormex::MachineSnapshot>(std::move(loaded)), machinePath, files,
                      arguments);
    }
#ifdef _WIN32
    dormex::Win32Machine machine(files);
    return RunOn(machine, arguments);
#else
    auto parsed = dormex::ParseMachineSnapshot(dormex::EmbeddedSampleMachine());
    if (auto* error = std::get_if<dormex::SnapshotError>(&parsed)) {
        std::cerr << "dormex: machine snapshot embedded sample: " << error->Path << ": "
                  << error->Message << "\n";
        return 2;
    }
    return Replay(std::get<dormex::MachineSnapshot>(std::move(parsed)), "embedded sample", files,
                  arguments);
#endif
}
