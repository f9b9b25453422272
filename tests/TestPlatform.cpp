#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <cctype>

namespace dormex::test {

bool StringConsole::ReadChar(char* c)
{
    while (InputReads < Input.size() &&
           std::isspace(static_cast<unsigned char>(Input[InputReads]))) {
        ++InputReads;
    }
    if (InputReads >= Input.size()) {
        return false;
    }
    *c = Input[InputReads++];
    return true;
}

MachineSnapshot ParseSnapshotOrFail(std::string_view json)
{
    auto parsed = ParseMachineSnapshot(json);
    if (auto* error = std::get_if<SnapshotError>(&parsed)) {
        ADD_FAILURE() << "test snapshot does not parse: " << error->Path << ": " << error->Message;
        return {};
    }
    return std::get<MachineSnapshot>(std::move(parsed));
}

LogCapture::LogCapture()
{
    Files.CurrentDirectory = Dir.Path().string();
    Log.WriteTo(&Entries);
}

std::string LogCapture::AddFile(const std::string& name, std::string_view content) const
{
    std::filesystem::path path = Dir.Path() / name;
    WriteFile(path, content);
    return path.string();
}

TestMachine::TestMachine(std::string_view snapshotJson)
    : Profile((Dir.Path() / "profile").string()),
      WorkingDir((Dir.Path() / "work").string()),
      Machine(ParseSnapshotOrFail(snapshotJson), Files),
      Services(Machine.PlatformWith(Console)),
      State(Services)
{
    std::filesystem::create_directories(Profile + "/Desktop");
    std::filesystem::create_directories(WorkingDir);
    Files.Environment["USERPROFILE"] = Profile;
    Files.CurrentDirectory = WorkingDir;
}

std::string TestMachine::DebugLogText() const
{
    std::filesystem::path log = std::filesystem::path(Profile) / "Desktop" / "VQT-Debug-Log.txt";
    return std::filesystem::exists(log) ? ReadFile(log) : LogSink.str();
}

std::string BasicSnapshot()
{
    return R"({
      "format": "dormex-machine/1",
      "powerCapabilities": {"AoAc": true},
      "registry": {
        "hardware\\description\\system\\centralprocessor\\0": {"Identifier": "x64 Family 6 Model 138 Stepping 1"},
        "software\\microsoft\\windows nt\\currentversion": {"CurrentBuildNumber": "22621"},
        "hardware\\description\\system\\bios": {
          "biosversion": "QX.1.02", "biosvendor": "Brindle Firmware", "biosreleasedate": "02/11/2026"}
      }
    })";
}

}  // namespace dormex::test
