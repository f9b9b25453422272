// Runs the built program as a user would: its own working directory, its own
// profile folder, a machine snapshot, and the console text it prints.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// One scenario's directory: <dir>/profile (with a Desktop) and <dir>/work.
class Scenario {
public:
    Scenario()
    {
        std::random_device random;
        dir_ = fs::temp_directory_path() / ("dormex-e2e-" + std::to_string(random()));
        fs::create_directories(Profile() / "Desktop");
        fs::create_directories(Work());
    }
    ~Scenario()
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path Profile() const { return dir_ / "profile"; }
    fs::path Work() const { return dir_ / "work"; }
    fs::path Dir() const { return dir_; }

    std::map<std::string, std::string> environment;

    Result Run(const std::vector<std::string>& arguments = {}) const
    {
        std::string command = "cd " + Quote(Work().string()) + " && env -i PATH=/usr/bin:/bin";
        for (const auto& [name, value] : environment) {
            command += " " + name + "=" + Quote(value);
        }
        command += " " + Quote(DORMEX_EXE);
        for (const std::string& argument : arguments) {
            command += " " + Quote(argument);
        }
        command += " < /dev/null > " + Quote((dir_ / "out").string()) + " 2> " +
                   Quote((dir_ / "err").string());
        Result result;
        int raw = std::system(command.c_str());
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.out = ReadFile(dir_ / "out");
        result.err = ReadFile(dir_ / "err");
        return result;
    }

private:
    fs::path dir_;
};

TEST(EndToEnd, HomeStandsInForAMissingUserProfile)
{
    Scenario scenario;
    scenario.environment["HOME"] = scenario.Profile().string();
    Result result = scenario.Run();
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(fs::exists(scenario.Profile() / "Desktop" / "VQT-Debug-Log.txt"));
    EXPECT_NE(result.out.find("\"rules_for_soc\" folder not found."), std::string::npos);
}

TEST(EndToEnd, NamedSnapshotIsReplayedAndAnnounced)
{
    Scenario scenario;
    const fs::path snapshot = scenario.Dir() / "machine.json";
    WriteFile(snapshot, R"({"format": "dormex-machine/1", "administrator": false,
      "registry": {
        "hardware\\description\\system\\centralprocessor\\0": {"Identifier": "x64 Family 6 Model 1 Stepping 1"},
        "software\\microsoft\\windows nt\\currentversion": {"CurrentBuildNumber": "19045"},
        "hardware\\description\\system\\bios": {"biosversion": "1", "biosvendor": "v", "biosreleasedate": "d"}}})");
    scenario.environment["USERPROFILE"] = scenario.Profile().string();
    scenario.environment["DORMEX_MACHINE"] = snapshot.string();
    Result result = scenario.Run();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "dormex: replaying machine snapshot " + snapshot.string() + "\n");
    EXPECT_NE(result.out.find("User does not have Administrator rights."), std::string::npos);
}

TEST(EndToEnd, InvalidSnapshotStopsWithStatusTwo)
{
    struct Case {
        const char* content;
        const char* member;
    };
    const Case cases[] = {
        {R"({"format": "dormex-machine/1", "registyr": {}})", "$.registyr: unknown member"},
        {R"({"format": "dormex-machine/1", "firmwareTables": {"LPIT": "4x"}})",
         "$.firmwareTables.LPIT: bad hex"},
    };
    for (const Case& c : cases) {
        Scenario scenario;
        const fs::path snapshot = scenario.Dir() / "broken.json";
        WriteFile(snapshot, c.content);
        scenario.environment["USERPROFILE"] = scenario.Profile().string();
        scenario.environment["DORMEX_MACHINE"] = snapshot.string();
        Result result = scenario.Run();
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind("dormex: machine snapshot " + snapshot.string() + ": " + c.member, 0),
                  0u)
            << result.err;
        EXPECT_FALSE(fs::exists(scenario.Profile() / "Desktop" / "VQT-Debug-Log.txt"));
    }
}

// Scenarios under tests/e2e/scenarios/<name>/scenario.json: a machine (a
// snapshot file, optionally patched, or the embedded sample), a rules folder,
// arguments, and what the run must show: exit status, console text, debug-log
// and report fragments in order. ${PROFILE} and ${WORK} stand for the folders.
class Scenarios : public ::testing::TestWithParam<std::string> {};

const fs::path ScenarioRoot = fs::path(DORMEX_SOURCE_DIR) / "tests" / "e2e" / "scenarios";

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

std::string Substitute(std::string text, const Scenario& scenario)
{
    const std::pair<std::string, std::string> names[] = {{"${PROFILE}", scenario.Profile().string()},
                                                         {"${WORK}", scenario.Work().string()}};
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
                   const Scenario& scenario, const char* what)
{
    size_t at = 0;
    for (const auto& fragment : fragments) {
        std::string expected = Substitute(fragment.get<std::string>(), scenario);
        size_t found = text.find(expected, at);
        EXPECT_NE(found, std::string::npos) << what << " lacks, at or after offset " << at << ":\n"
                                            << expected << "\n--- " << what << ":\n" << text;
        if (found != std::string::npos) {
            at = found + 1;
        }
    }
}

TEST_P(Scenarios, BehaveAsRecorded)
{
    const fs::path dir = ScenarioRoot / GetParam();
    const nlohmann::json recorded = nlohmann::json::parse(ReadFile(dir / "scenario.json"));
    Scenario scenario;
    const bool desktop = recorded.value("desktop", true);
    if (!desktop) {
        fs::remove(scenario.Profile() / "Desktop");
    }
    if (recorded.value("profile", true)) {
        scenario.environment["USERPROFILE"] = scenario.Profile().string();
    }
    std::string replayed = "embedded sample";
    const std::string machine = recorded.at("machine");
    if (machine != "embedded") {
        nlohmann::json snapshot = nlohmann::json::parse(ReadFile(ScenarioRoot / machine));
        if (recorded.contains("machinePatch")) {
            snapshot.merge_patch(recorded["machinePatch"]);
        }
        replayed = (scenario.Dir() / "machine.json").string();
        WriteFile(replayed, snapshot.dump());
        scenario.environment["DORMEX_MACHINE"] = replayed;
    }
    if (recorded.contains("rules")) {
        const std::string rules = recorded["rules"];
        fs::path source = rules == "shipped" ? fs::path(DORMEX_SOURCE_DIR) / "rules_for_soc"
                                             : ScenarioRoot / rules;
        fs::copy(source, scenario.Work() / "rules_for_soc", fs::copy_options::recursive);
    }
    const fs::path output = desktop ? scenario.Profile() / "Desktop" : scenario.Work();
    if (recorded.value("reportUnwritable", false)) {
        fs::create_directories(output / "VQT-Report.html");
    }

    Result result = scenario.Run(recorded.value("args", std::vector<std::string>{}));

    const int status = recorded.at("status");
    EXPECT_EQ(result.status, status & 0xFF);
    EXPECT_EQ(result.err, "dormex: replaying machine snapshot " + replayed + "\n");
    EXPECT_EQ(result.out, Substitute(recorded.at("console"), scenario));
    const fs::path log = output / "VQT-Debug-Log.txt";
    if (recorded.value("noLog", false)) {
        EXPECT_FALSE(fs::exists(log));
    } else {
        ExpectInOrder(ReadFile(log), recorded.value("log", nlohmann::json::array()), scenario,
                      "debug log");
    }
    const fs::path report = output / "VQT-Report.html";
    if (recorded.value("noReport", false)) {
        EXPECT_FALSE(fs::exists(report));
    } else if (recorded.contains("report")) {
        const std::string page = ReadFile(report);
        EXPECT_EQ(page.find('\n'), std::string::npos);
        ExpectInOrder(page, recorded["report"], scenario, "report");
    }
    EXPECT_FALSE(fs::exists(scenario.Profile() / "VQTSystemTrace.etl"));
    EXPECT_FALSE(fs::exists(scenario.Profile() / "VQT_Device_file.txt"));
}

INSTANTIATE_TEST_SUITE_P(, Scenarios, ::testing::ValuesIn(ScenarioNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
