#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/Launch.h"
#include "common/StatusCodes.h"
#include "platform/NativeFileSystem.h"
#include "platform/NativeProcess.h"
#include "platform/snapshot/MachineSnapshot.h"

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    // Held to the end: the run lock, the console's code page and its
    // interruption handler.
    std::unique_ptr<dormex::NativeProcess> process = dormex::StartNativeProcess();
    if (const auto& refusal = process->Refusal()) {
        std::cerr << "dormex: " << refusal->Message << "\n";
        return refusal->Code;
    }
    dormex::Interruption& interruption = process->ConsoleInterruption();
    std::unique_ptr<dormex::FileSystem> files = dormex::MakeNativeFileSystem();

    // DORMEX_MACHINE names a snapshot to replay; otherwise Windows runs on the
    // live machine and every other system replays the embedded sample.
    const char* machinePath = std::getenv("DORMEX_MACHINE");
    if (machinePath != nullptr && *machinePath != '\0') {
        auto loaded = dormex::LoadMachineSnapshot(machinePath);
        if (auto* error = std::get_if<std::string>(&loaded)) {
            std::cerr << "dormex: " << *error << "\n";
            return dormex::ExitBadInput;
        }
        return dormex::RunReplayed(std::get<dormex::MachineSnapshot>(std::move(loaded)),
                                   machinePath, *files, interruption, arguments);
    }
    return dormex::RunLive(*files, interruption, arguments);
}
