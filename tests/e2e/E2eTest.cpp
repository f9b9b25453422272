// Runs the built program as a user would: its own working directory, its own
// profile folder, a machine snapshot, and the console text it prints.
//
// Each scenario is tests/e2e/scenarios/<name>/scenario.json: a machine (a
// snapshot file, optionally patched, or the embedded sample), a rules folder,
// arguments, and what the run must show: exit status, console text, debug-log
// and report fragments in order. ${PROFILE}, ${WORK} and ${MACHINE} stand for
// the profile folder (named "profile" unless "profileFolder" says otherwise),
// the working directory and the replayed snapshot.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "TestFiles.h"

namespace {

namespace fs = std::filesystem;
using dormex::test::ReadFile;
using dormex::test::WriteFile;

const fs::path ScenarioRoot = fs::path(DORMEX_SOURCE_DIR) / "tests" / "e2e" / "scenarios";

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::vector<std::string> ScenarioNames()
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(ScenarioRoot)) {
        if (fs::exists(entry.path() / "scenario.json")) {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// One scenario's folders: <dir>/profile (with a Desktop) and <dir>/work.
struct Folders {
    dormex::test::TempDir dir;
    fs::path profile = dir.Path() / "profile";
    fs::path work = dir.Path() / "work";
    std::string machine = "embedded sample";

    std::string Substitute(std::string text) const
    {
        const std::pair<std::string, std::string> names[] = {
            {"${PROFILE}", profile.string()}, {"${WORK}", work.string()}, {"${MACHINE}", machine}};
        for (const auto& [name, value] : names) {
            for (size_t at = text.find(name); at != std::string::npos;
                 at = text.find(name, at + value.size())) {
                text.replace(at, name.size(), value);
            }
        }
        return text;
    }

    // Each fragment must start after the one before it started (fragments may
    // share the line feed between them).
    void ExpectInOrder(const std::string& text, const nlohmann::json& fragments,
                       const char* what) const
    {
        size_t at = 0;
        for (const auto& fragment : fragments) {
            std::string expected = Substitute(fragment.get<std::string>());
            size_t found = text.find(expected, at);
            EXPECT_NE(found, std::string::npos)
                << what << " lacks, at or after offset " << at << ":\n"
                << expected << "\n--- " << what << ":\n"
                << text;
            if (found != std::string::npos) {
                at = found + 1;
            }
        }
    }
};

class Scenarios : public ::testing::TestWithParam<std::string> {};

TEST_P(Scenarios, BehaveAsRecorded)
{
    const nlohmann::json recorded =
        nlohmann::json::parse(ReadFile(ScenarioRoot / GetParam() / "scenario.json"));
    Folders folders;
    // "desktop": false for none, "file" for a file of that name.
    const bool desktop = recorded.value("desktop", nlohmann::json(true)) == true;
    folders.profile = folders.dir.Path() / recorded.value("profileFolder", "profile");
    fs::create_directories(desktop ? folders.profile / "Desktop" : folders.profile);
    fs::create_directories(folders.work);
    if (recorded.value("desktop", nlohmann::json(true)) == "file") {
        WriteFile(folders.profile / "Desktop", "not a folder");
    }

    // The variable that names the profile folder; "" for none.
    std::string environment;
    if (const std::string variable = recorded.value("profile", "USERPROFILE"); !variable.empty()) {
        environment += " " + variable + "=" + Quote(folders.profile.string());
    }
    const std::string machine = recorded.at("machine");
    if (machine != "embedded") {
        nlohmann::json snapshot = nlohmann::json::parse(ReadFile(ScenarioRoot / machine));
        if (recorded.contains("machinePatch")) {
            snapshot.merge_patch(recorded["machinePatch"]);
        }
        folders.machine = (folders.dir.Path() / "machine.json").string();
        WriteFile(folders.machine, snapshot.dump());
        environment += " DORMEX_MACHINE=" + Quote(folders.machine);
    }
    if (recorded.value("rules", "") == "file") {
        WriteFile(folders.work / "rules_for_soc", "not a folder");
    } else if (recorded.contains("rules")) {
        const std::string rules = recorded["rules"];
        fs::copy(rules == "shipped" ? fs::path(DORMEX_SOURCE_DIR) / "rules_for_soc"
                                    : ScenarioRoot / rules,
                 folders.work / "rules_for_soc", fs::copy_options::recursive);
    }
    const fs::path output = desktop ? folders.profile / "Desktop" : folders.work;
    if (recorded.value("reportUnwritable", false)) {
        fs::create_directories(output / "VQT-Report.html");
    }

    const fs::path out = folders.dir.Path() / "out";
    const fs::path err = folders.dir.Path() / "err";
    std::string command = "cd " + Quote(folders.work.string()) + " && env -i PATH=/usr/bin:/bin" +
                          environment + " " + Quote(DORMEX_EXE);
    for (const std::string& argument : recorded.value("args", std::vector<std::string>{})) {
        command += " " + Quote(argument);
    }
    command += " < /dev/null > " + Quote(out.string()) + " 2> " + Quote(err.string());
    const int raw = std::system(command.c_str());

    const int status = recorded.at("status");
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, status & 0xFF);
    EXPECT_EQ(ReadFile(err), folders.Substitute(recorded.value(
                                 "stderr", "dormex: replaying machine snapshot ${MACHINE}\n")));
    EXPECT_EQ(ReadFile(out), folders.Substitute(recorded.at("console")));
    const fs::path log = output / "VQT-Debug-Log.txt";
    if (recorded.value("noLog", false)) {
        EXPECT_FALSE(fs::exists(log));
    } else {
        folders.ExpectInOrder(ReadFile(log), recorded.value("log", nlohmann::json::array()),
                              "debug log");
    }
    const fs::path report = output / "VQT-Report.html";
    if (recorded.value("noReport", false)) {
        EXPECT_FALSE(fs::exists(report));
    } else if (recorded.contains("report")) {
        const std::string page = ReadFile(report);
        EXPECT_EQ(page.find('\n'), std::string::npos);
        EXPECT_EQ(page.find("{{"), std::string::npos);  // a placeholder left unfilled
        folders.ExpectInOrder(page, recorded["report"], "report");
    }
    EXPECT_FALSE(fs::exists(folders.profile / "VQTSystemTrace.etl"));
    EXPECT_FALSE(fs::exists(folders.profile / "VQT_Device_file.txt"));
}

INSTANTIATE_TEST_SUITE_P(, Scenarios, ::testing::ValuesIn(ScenarioNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
