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
#include <optional>
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

// Whether `text` is UTF-8 without a zero byte: each sequence of the shortest
// form, no surrogate, nothing above U+10FFFF.
bool IsUtf8WithoutZero(const std::string& text)
{
    static constexpr uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead == 0     ? 0
                              : lead < 0x80 ? 1
                              : lead < 0xC0 ? 0
                              : lead < 0xE0 ? 2
                              : lead < 0xF0 ? 3
                              : lead < 0xF8 ? 4
                                            : 0;
        if (length == 0 || text.size() - i < length) {
            return false;
        }
        uint32_t codePoint = length == 1 ? lead : lead & (0x7Fu >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            codePoint = codePoint << 6 | (next & 0x3F);
        }
        if (codePoint < least[length] || (codePoint >= 0xD800 && codePoint < 0xE000) ||
            codePoint > 0x10FFFF) {
            return false;
        }
        i += length;
    }
    return true;
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

// What one run of the program left: its exit status, output and files.
struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
    std::optional<std::string> log;
    std::optional<std::string> report;
};

// A scenario's machine, folders and environment, set up as recorded.
class Scenario {
public:
    explicit Scenario(const std::string& name)
        : recorded(nlohmann::json::parse(ReadFile(ScenarioRoot / name / "scenario.json")))
    {
        // "desktop": false for none, "file" for a file of that name.
        const bool desktop = recorded.value("desktop", nlohmann::json(true)) == true;
        folders.profile = folders.dir.Path() / recorded.value("profileFolder", "profile");
        fs::create_directories(desktop ? folders.profile / "Desktop" : folders.profile);
        fs::create_directories(folders.work);
        if (recorded.value("desktop", nlohmann::json(true)) == "file") {
            WriteFile(folders.profile / "Desktop", "not a folder");
        }
        output = desktop ? folders.profile / "Desktop" : folders.work;

        // The variable that names the profile folder; "" for none.
        if (const std::string variable = recorded.value("profile", "USERPROFILE");
            !variable.empty()) {
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
    }

    // Runs the program with `more` added to the scenario's environment (a
    // later setting of a variable wins), the output folder as recorded.
    Outcome Run(const std::string& more = "") const
    {
        fs::remove_all(output / "VQT-Report.html");
        fs::remove(output / "VQT-Debug-Log.txt");
        if (recorded.value("reportUnwritable", false)) {
            fs::create_directories(output / "VQT-Report.html");
        }
        const fs::path out = folders.dir.Path() / "out";
        const fs::path err = folders.dir.Path() / "err";
        std::string command = "cd " + Quote(folders.work.string()) +
                              " && env -i PATH=/usr/bin:/bin" + environment + more + " " +
                              Quote(DORMEX_EXE);
        for (const std::string& argument : recorded.value("args", std::vector<std::string>{})) {
            command += " " + Quote(argument);
        }
        command += " < /dev/null > " + Quote(out.string()) + " 2> " + Quote(err.string());
        const int raw = std::system(command.c_str());

        Outcome outcome;
        outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        outcome.out = ReadFile(out);
        outcome.err = ReadFile(err);
        if (fs::exists(output / "VQT-Debug-Log.txt")) {
            outcome.log = ReadFile(output / "VQT-Debug-Log.txt");
        }
        if (fs::is_regular_file(output / "VQT-Report.html")) {
            outcome.report = ReadFile(output / "VQT-Report.html");
        }
        return outcome;
    }

    nlohmann::json recorded;
    Folders folders;
    std::string environment;
    fs::path output;
};

class Scenarios : public ::testing::TestWithParam<std::string> {};

TEST_P(Scenarios, BehaveAsRecorded)
{
    const Scenario scenario(GetParam());
    const nlohmann::json& recorded = scenario.recorded;
    const Folders& folders = scenario.folders;
    const Outcome outcome = scenario.Run();

    const int status = recorded.at("status");
    EXPECT_EQ(outcome.status, status & 0xFF);
    EXPECT_EQ(outcome.err, folders.Substitute(recorded.value(
                               "stderr", "dormex: replaying machine snapshot ${MACHINE}\n")));
    EXPECT_EQ(outcome.out, folders.Substitute(recorded.at("console")));
    // Both files are text that grep, an editor and a browser read as such.
    EXPECT_TRUE(IsUtf8WithoutZero(outcome.log.value_or(""))) << "the debug log";
    EXPECT_TRUE(IsUtf8WithoutZero(outcome.report.value_or(""))) << "the report";
    if (recorded.value("noLog", false)) {
        EXPECT_FALSE(outcome.log);
    } else {
        folders.ExpectInOrder(outcome.log.value_or(""),
                              recorded.value("log", nlohmann::json::array()), "debug log");
    }
    if (recorded.value("noReport", false)) {
        EXPECT_FALSE(outcome.report);
    } else if (recorded.contains("report")) {
        const std::string page = outcome.report.value_or("");
        EXPECT_EQ(page.find('\n'), std::string::npos);
        EXPECT_EQ(page.find("{{"), std::string::npos);  // a placeholder left unfilled
        folders.ExpectInOrder(page, recorded["report"], "report");
    }
    // A trace that fails after it started stays behind ("traceFileLeft").
    EXPECT_EQ(fs::exists(folders.profile / "VQTSystemTrace.etl"),
              recorded.value("traceFileLeft", false));
    EXPECT_FALSE(fs::exists(folders.profile / "VQT_Device_file.txt"));
}

// A run recorded with DORMEX_RECORD replays to the same run, and recording
// that replay gives the same snapshot again.
TEST_P(Scenarios, ReplayTheSameWhenRecorded)
{
    const Scenario scenario(GetParam());
    const fs::path first = scenario.folders.dir.Path() / "first.json";
    const fs::path second = scenario.folders.dir.Path() / "second.json";
    const Outcome original = scenario.Run(" DORMEX_RECORD=" + Quote(first.string()));
    if (!fs::exists(first)) {
        // Only a run that stops before it reads the profile records nothing.
        EXPECT_FALSE(original.log) << original.err;
        return;
    }
    EXPECT_NE(original.err.find("dormex: recorded the machine in " + first.string() + "\n"),
              std::string::npos);
    const Outcome replayed = scenario.Run(" DORMEX_MACHINE=" + Quote(first.string()) +
                                          " DORMEX_RECORD=" + Quote(second.string()));
    EXPECT_EQ(replayed.status, original.status);
    EXPECT_EQ(replayed.out, original.out);
    EXPECT_EQ(replayed.log, original.log);
    EXPECT_EQ(replayed.report, original.report);
    EXPECT_EQ(ReadFile(second), ReadFile(first));
}

INSTANTIATE_TEST_SUITE_P(, Scenarios, ::testing::ValuesIn(ScenarioNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
