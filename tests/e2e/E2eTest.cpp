// Runs the built program as a user would: its own working directory, its own
// profile folder, a machine snapshot, and the console text it prints.
#include <gtest/gtest.h>
#include <sys/wait.h>

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

TEST(EndToEnd, EmbeddedSampleMachineRunsWhenNoSnapshotIsNamed)
{
    Scenario scenario;
    scenario.environment["USERPROFILE"] = scenario.Profile().string();
    fs::create_directories(scenario.Work() / "rules_for_soc");
    fs::copy(fs::path(DORMEX_SOURCE_DIR) / "rules_for_soc", scenario.Work() / "rules_for_soc",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    Result result = scenario.Run();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "dormex: replaying machine snapshot embedded sample\n");
    const std::string profile = scenario.Profile().string();
    EXPECT_EQ(result.out.rfind("\nDebug file can be found at: " + profile +
                                   "\\Desktop\\VQT-Debug-Log.txt\nRunning checks...",
                               0),
              0u)
        << result.out;
    const std::string success =
        "\nVQT report has been generated & stored here: " + profile + "\\Desktop\\VQT-Report.html";
    ASSERT_GE(result.out.size(), success.size());
    EXPECT_EQ(result.out.substr(result.out.size() - success.size()), success);
    const std::string log = ReadFile(scenario.Profile() / "Desktop" / "VQT-Debug-Log.txt");
    for (const char* line : {"\nINFORMATION:: CPU Model: 170\n",
                             "\nINFORMATION:: Number of buffers lost: 0\n",
                             "\nINFORMATION::  Number of Descriptors in LPIT: 2\n",
                             "\nINFORMATION:: Device Information Logging Complete.\n"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
    size_t devices = 0;
    for (size_t at = log.find("Information Logged for: "); at != std::string::npos;
         at = log.find("Information Logged for: ", at + 1)) {
        ++devices;
    }
    EXPECT_GE(devices, 40u);
    EXPECT_FALSE(fs::exists(scenario.Profile() / "VQTSystemTrace.etl"));
    EXPECT_FALSE(fs::exists(scenario.Profile() / "VQT_Device_file.txt"));
}

TEST(EndToEnd, TestSwitchLoadsTheShippedTestRuleFile)
{
    Scenario scenario;
    scenario.environment["USERPROFILE"] = scenario.Profile().string();
    fs::copy(fs::path(DORMEX_SOURCE_DIR) / "rules_for_soc", scenario.Work() / "rules_for_soc",
             fs::copy_options::recursive);
    fs::remove(scenario.Work() / "rules_for_soc" / "Family_6_Model_170_Microsoft_Windows_10.xml");
    Result result = scenario.Run({"/t"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("\nVQT report has been generated & stored here: "), std::string::npos)
        << result.out;
    const std::string log = ReadFile(scenario.Profile() / "Desktop" / "VQT-Debug-Log.txt");
    EXPECT_NE(log.find("\nINFORMATION:: Parsing  xml values from: "
                       ".\\rules_for_soc\\Family_6_Model_138_Microsoft_Windows_10.xml"
                       "\nINFORMATION:: validating rules"
                       "\nWARNING:: Unique classes are not present. "),
              std::string::npos)
        << log;
}

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

TEST(EndToEnd, HelpPrintsAndExits)
{
    Scenario scenario;
    scenario.environment["USERPROFILE"] = scenario.Profile().string();
    Result result = scenario.Run({"/?"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              "\nTo use Dormex you can run without any options. "
              "\nAlthough, there are some options for running specific modes."
              "\n\n\tARGUMENTS: \n\t\t /?: dumps help information.\n Press ANY key to continue..");
}

}  // namespace
