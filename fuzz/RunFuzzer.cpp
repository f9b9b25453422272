// A whole replayed run in this process: the input is a machine snapshot, run
// as a user runs dormex, with a user profile (with a Desktop) and a working
// directory holding rules_for_soc/, both inside the process's directory.
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <variant>

#include "FuzzSupport.h"
#include "TestFileSystem.h"
#include "app/Launch.h"
#include "common/Text.h"
#include "platform/replay/ReplayMachine.h"

namespace {

dormex::test::TestFileSystem& RunFiles()
{
    static dormex::test::TestFileSystem files = [] {
        namespace fs = std::filesystem;
        const fs::path& directory = dormex::fuzz::ProcessDirectory();
        const fs::path work = directory / "work";
        fs::create_directories(directory / "profile" / "Desktop");
        fs::create_directories(work / "rules_for_soc");
        // The shipped rule files, and the end-to-end tests' for family 6 model 60.
        const fs::path source = DORMEX_SOURCE_DIR;
        for (const fs::path& folder :
             {source / "rules_for_soc", source / "tests/e2e/scenarios/clean/rules_for_soc"}) {
            for (const fs::directory_entry& file : fs::directory_iterator(folder)) {
                fs::copy_file(file.path(), work / "rules_for_soc" / file.path().filename(),
                              fs::copy_options::overwrite_existing);
            }
        }
        dormex::test::TestFileSystem made;
        made.Environment["USERPROFILE"] = (directory / "profile").string();
        made.CurrentDirectory = work.string();
        return made;
    }();
    return files;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The console output of a run is not wanted, input after input.
    std::cout.setstate(std::ios::badbit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto parsed = dormex::ParseMachineSnapshot(dormex::fuzz::AsText(data, size));
    if (!std::holds_alternative<dormex::MachineSnapshot>(parsed)) {
        return 0;  // the loader's refusals are the snapshot harness's
    }
    auto& snapshot = std::get<dormex::MachineSnapshot>(parsed);
    dormex::ReplayMachine machine(std::move(snapshot), RunFiles());
    dormex::NoInterruption uninterrupted;
    dormex::NullConsole console;
    dormex::RunOnPlatform(machine.PlatformWith(console, uninterrupted), {}, "fuzz input");
    return 0;
}
