// Runs the built program as a user would: its own working directory, its own
// profile folder, a machine snapshot, and the console text it prints.
//
// Each scenario is tests/e2e/scenarios/<name>/scenario.json: a machine (a
// snapshot file, optionally patched, or the embedded sample), a rules folder,
// arguments, and what the run must show: exit status, console text, debug-log
// and report fragments in order. ${PROFILE}, ${WORK}, ${PROGRAM} and
// ${MACHINE} stand for the profile folder (named "profile" unless
// "profileFolder" says otherwise), the working directory, the program's folder
// and the replayed snapshot. With "rulesBesideProgram" the program runs from a
// folder of its own that holds those rules. A run that stops before its report
// names its stop ("stop") as the results file does.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <optional>
#include <sstream>
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

// Whether `text` is UTF-8 without a zero byte: the JSON writer refuses text
// that is not UTF-8 (overlong forms, surrogates and all).
bool IsUtf8WithoutZero(const std::string& text)
{
    try {
        return text.find('\0') == std::string::npos && !nlohmann::json(text).dump().empty();
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

// What a command left: its exit status and its output.
struct Ran {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs `command` through the shell, its output caught in files of `dir`.
Ran RunCommand(const std::string& command, const fs::path& dir)
{
    const fs::path out = dir / "out";
    const fs::path err = dir / "err";
    const int raw =
        std::system((command + " > " + Quote(out.string()) + " 2> " + Quote(err.string())).c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(out), ReadFile(err)};
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
    fs::path program = fs::path(DORMEX_EXE).parent_path();
    std::string machine = "embedded sample";

    std::string Substitute(std::string text) const
    {
        const std::pair<std::string, std::string> names[] = {{"${PROFILE}", profile.string()},
                                                             {"${WORK}", work.string()},
                                                             {"${PROGRAM}", program.string()},
                                                             {"${MACHINE}", machine}};
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
struct Outcome : Ran {
    std::optional<std::string> log;
    std::optional<std::string> report;
};

// A scenario's machine, folders and environment, set up as recorded.
class Scenario {
public:
    explicit Scenario(const std::string& name)
        : Scenario(nlohmann::json::parse(ReadFile(ScenarioRoot / name / "scenario.json")))
    {
    }

    explicit Scenario(nlohmann::json scenario) : recorded(std::move(scenario))
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
            CopyRules(recorded["rules"], folders.work);
        }
        if (recorded.contains("rulesBesideProgram")) {
            folders.program = folders.dir.Path() / "program";
            fs::create_directories(folders.program);
            fs::copy_file(DORMEX_EXE, folders.program / fs::path(DORMEX_EXE).filename());
            CopyRules(recorded["rulesBesideProgram"], folders.program);
        }
    }

    static void CopyRules(const std::string& rules, const fs::path& into)
    {
        fs::copy(rules == "shipped" ? fs::path(DORMEX_SOURCE_DIR) / "rules_for_soc"
                                    : ScenarioRoot / rules,
                 into / "rules_for_soc", fs::copy_options::recursive);
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
        std::string command = "cd " + Quote(folders.work.string()) +
                              " && env -i PATH=/usr/bin:/bin" + environment + more + " " +
                              Quote((folders.program / fs::path(DORMEX_EXE).filename()).string());
        for (const std::string& argument : recorded.value("args", std::vector<std::string>{})) {
            command += " " + Quote(argument);
        }
        Outcome outcome;
        static_cast<Ran&>(outcome) = RunCommand(command + " < /dev/null", folders.dir.Path());
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
    // A run that wrote its report ends by counting its findings.
    const std::string findings = recorded.value("findingsLine", "");
    EXPECT_EQ(outcome.err,
              folders.Substitute(recorded.value(
                  "stderr", "dormex: replaying machine snapshot ${MACHINE}\n" +
                                (findings.empty() ? "" : "dormex: " + findings + "\n"))));
    EXPECT_EQ(findings.empty(), !outcome.report || outcome.status != 0);
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

// Whether `document` is valid against the results schema (the errors fail
// the test).
void ExpectValidResults(const fs::path& document)
{
    const Ran validation = RunCommand(Quote(PYTHON3) + " " + Quote(JSON_VALIDATOR) + " " +
                                          Quote(RESULTS_SCHEMA) + " " + Quote(document.string()),
                                      document.parent_path());
    EXPECT_EQ(validation.status, 0) << validation.out << validation.err;
}

std::string HtmlEscaped(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        escaped += c == '&'   ? "&amp;"
                   : c == '<' ? "&lt;"
                   : c == '>' ? "&gt;"
                   : c == '"' ? "&quot;"
                              : std::string(1, c);
    }
    return escaped;
}

// The headline text that only a section of the finding's kind shows.
std::string KindHeadline(const nlohmann::json& finding)
{
    const std::array<std::string, 8> headlines = {
        "</span> constraint found but driver did not register with PoFx",
        "</span> device constraint expected",
        "</span> power state constraint is incorrect:",
        "</span> constraint required",
        "</span> constraint not expected </div>",
        "</span> Corva Swiftvault (SVT) Velomem support is detected but no constraint",
        " has problem code " + finding.value("problemCode", nlohmann::json()).dump(),
        "</span> constraint not expected on a PCI device",
    };
    return headlines.at(finding.at("kind").get<size_t>());
}

// The finding sections of a report, in order.
std::vector<std::string> FindingSections(const std::string& page)
{
    std::vector<std::string> sections;
    const size_t end = page.find("<input id=\"rmdump\"");
    const std::string opening = "<section><div class=\"err\">";
    for (size_t at = page.find(opening, page.find("errsFound")); at < end;
         at = page.find(opening, at + 1)) {
        sections.push_back(page.substr(at, page.find("</section>", at) - at));
    }
    return sections;
}

// The number in "Found N issue(s)"; 0 for "No Errors Found".
int ReportedIssues(const std::string& page)
{
    const std::string found = "Found <span style=\"color:red\">";
    const size_t at = page.find(found);
    return at == std::string::npos ? 0 : std::stoi(page.substr(at + found.size()));
}

// DORMEX_RESULTS writes a valid results file on every run that read the
// profile; it tells how the run ended, and lists the report's findings in the
// report's order.
TEST_P(Scenarios, WriteResultsThatMatchTheReport)
{
    const Scenario scenario(GetParam());
    const nlohmann::json& recorded = scenario.recorded;
    const fs::path path = scenario.folders.dir.Path() / "results.json";
    const Outcome outcome = scenario.Run(" DORMEX_RESULTS=" + Quote(path.string()));
    if (!outcome.log) {
        EXPECT_FALSE(fs::exists(path));
        return;
    }
    ASSERT_TRUE(fs::exists(path)) << outcome.err;
    EXPECT_NE(outcome.err.find("dormex: wrote the results to " + path.string() + "\n"),
              std::string::npos);
    ExpectValidResults(path);
    const nlohmann::json results = nlohmann::json::parse(ReadFile(path));

    const nlohmann::json& end = results.at("outcome");
    if (outcome.report) {
        EXPECT_EQ(end, (nlohmann::json{{"result", "completed"}, {"code", 0}}));
    } else {
        EXPECT_EQ(end.at("result"), "stopped");
        EXPECT_EQ(end.at("stop"), recorded.value("stop", "")) << GetParam();
        EXPECT_EQ(end.at("code"), recorded.at("status"));
        EXPECT_NE(outcome.out.find("\n" + end.at("message").get<std::string>()), std::string::npos);
    }

    const std::string page = outcome.report.value_or("");
    const nlohmann::json& findings = results.at("findings");
    const std::vector<std::string> sections = FindingSections(page);
    EXPECT_EQ(results.at("issues"), ReportedIssues(page));
    EXPECT_EQ(findings.size(), static_cast<size_t>(ReportedIssues(page)));
    ASSERT_EQ(findings.size(), sections.size());
    for (size_t i = 0; i < sections.size(); ++i) {
        const nlohmann::json& finding = findings[i];
        EXPECT_NE(sections[i].find(KindHeadline(finding)), std::string::npos)
            << "finding " << i << ": " << finding.dump() << "\nsection: " << sections[i];
        // The report names the device with its class, or the class alone.
        std::string shown = finding.at("device").is_string() ? finding["device"] : "";
        if (finding.at("class").is_string() && !finding["class"].get<std::string>().empty()) {
            const std::string cls = finding["class"];
            shown = shown.empty() ? cls : shown + " (" + cls + ")";
        }
        EXPECT_NE(sections[i].find(HtmlEscaped(shown)), std::string::npos)
            << "finding " << i << ": " << finding.dump() << "\nsection: " << sections[i];
    }
}

// The sample's findings name their PnP devices: the problem code and the
// constraint of the port controller, one by instance path and one by ACPI
// name, are the same device.
TEST(SampleResults, NameTheDeviceOfEveryFinding)
{
    const Scenario scenario(std::string("sample"));
    const fs::path path = scenario.folders.dir.Path() / "results.json";
    scenario.Run(" DORMEX_RESULTS=" + Quote(path.string()));
    const nlohmann::json results = nlohmann::json::parse(ReadFile(path));
    std::vector<std::string> portController;
    for (const nlohmann::json& finding : results.at("findings")) {
        ASSERT_EQ(finding.contains("deviceInfo"), !finding.at("device").is_null()) << finding;
        if (finding.contains("deviceInfo") &&
            finding["deviceInfo"].at("name") == "Zephlink ZL-200 Port Controller") {
            portController.push_back(finding["deviceInfo"].at("instancePath"));
        }
    }
    const std::string instance = "PCI\\VEN_5A4C&DEV_0C01&SUBSYS_0C015A4C&REV_02\\4&3C1D2E0F&0&00E0";
    EXPECT_EQ(portController, std::vector<std::string>(2, instance));
}

// Two runs of the sample machine, the second with one yellow bang mended:
// dormex-diff lists that finding as fixed one way round and as new the other,
// and refuses a file that is not a results document.
TEST(Diff, TellsTwoRunsOfTheSampleApart)
{
    const nlohmann::json sample = {{"machine", "../../../machines/sample.json"},
                                   {"rules", "shipped"}};
    nlohmann::json mended = sample;
    const std::string device = "USB\\VID_2F4A&PID_0C11\\5&1A2B3C4D&0&1";
    mended["machinePatch"] = {{"devices", {{device, {{"ProblemCode", 0}}}}}};
    const Scenario before(sample);
    const Scenario after(mended);
    const fs::path dir = before.folders.dir.Path();
    const fs::path old = dir / "old.json";
    const fs::path mendedRun = dir / "new.json";
    before.Run(" DORMEX_RESULTS=" + Quote(old.string()));
    after.Run(" DORMEX_RESULTS=" + Quote(mendedRun.string()));
    auto diff = [&](const fs::path& from, const fs::path& to, const std::string& options) {
        return RunCommand(Quote(DORMEX_DIFF_EXE) + " " + Quote(from.string()) + " " +
                              Quote(to.string()) + options,
                          dir);
    };

    const Ran fixed = diff(old, mendedRun, "");
    EXPECT_EQ(fixed.status, 0) << fixed.err;
    EXPECT_EQ(fixed.out.rfind("0 new, 1 fixed, 9 unchanged\nold: Halvard Computing Sparrowline", 0),
              0u)
        << fixed.out;
    EXPECT_NE(fixed.out.find("\nfixed     DeviceProblemCode " + device +
                             ": problem code 28; ask driver vendor\n"),
              std::string::npos);
    EXPECT_EQ(fixed.out.find("warning"), std::string::npos);

    // For a tracker: the changes alone, in a narrow table.
    const Ran added = diff(mendedRun, old, " --format=markdown --changes-only");
    EXPECT_EQ(added.status, 1) << added.err;
    EXPECT_EQ(added.out.rfind("**1 new, 0 fixed, 9 unchanged**\n", 0), 0u);
    EXPECT_NE(added.out.find("\n| new | Tarnwick Fingerprint Sensor `" + device +
                             "` | DeviceProblemCode | driver vendor |\n"),
              std::string::npos)
        << added.out;
    EXPECT_EQ(added.out.find("| unchanged |"), std::string::npos) << added.out;

    nlohmann::ordered_json other = nlohmann::ordered_json::parse(ReadFile(old));
    other["machine"]["productName"] = "Sparrowline 16";
    const fs::path otherRun = dir / "other.json";
    WriteFile(otherRun, other.dump());
    EXPECT_NE(diff(old, otherRun, "").out.find("\nwarning: the two runs are of different machines"),
              std::string::npos);

    const fs::path broken = dir / "broken.json";
    WriteFile(broken, "{\"format\": \"dormex-results/1\", \"findings\": [");
    const Ran refused = diff(old, broken, " --format json");
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err.rfind("dormex-diff: " + broken.string() + ": not valid JSON: ", 0), 0u)
        << refused.err;
}

// dormex-rules-check as a rule author and a CI job run it: the shipped rule
// files pass even with --werror, a warning fails only with it, a file that
// cannot be read outranks everything, and the JSON form parses.
TEST(RulesCheck, ExitStatusAndOutputOnTheCommandLine)
{
    const dormex::test::TempDir dir;
    const fs::path shipped = fs::path(DORMEX_SOURCE_DIR) / "rules_for_soc";
    const fs::path original = shipped / "Family_6_Model_170_Microsoft_Windows_10.xml";
    const std::string text = ReadFile(original);
    // A copy with one change, and the line of that change.
    auto changed = [&](const std::string& name, const std::string& from, const std::string& to) {
        std::string copy = text;
        const size_t at = copy.find(from);
        copy.replace(at, from.size(), to);
        WriteFile(dir.Path() / name, copy);
        return std::to_string(std::count(copy.begin(), copy.begin() + at, '\n') + 1);
    };
    const std::string warnedLine = changed("warned.xml", "<Dstate>3<", "<Dstate>0x3<");
    const std::string brokenLine = changed("broken.xml", "<ruletype>always<", "<ruletype>Always<");
    const std::string sample = (fs::path(DORMEX_SOURCE_DIR) / "machines" / "sample.json").string();
    const std::string warning = "warned.xml:" + warnedLine +
                                ": warning: D-state \"0x3\" is not a plain decimal number; "
                                "validation reads it as 3 but the power-state checks compare 0 "
                                "[state-not-decimal]\n";

    const std::string check =
        "cd " + Quote(dir.Path().string()) + " && " + Quote(DORMEX_RULES_CHECK_EXE) + " ";
    struct Case {
        std::string arguments;
        int status;
        std::string out;  // the start of standard output
    };
    const Case cases[] = {
        {"--help", 0,
         "usage: dormex-rules-check [--werror] [--format text|json] [--machine SNAPSHOT] "
         "RULE_FILE...\n"},
        {"", 2, ""},
        {"--format yaml warned.xml", 2, ""},
        {"--werror " + Quote((shipped / "Family_6_Model_138_Microsoft_Windows_10.xml").string()) +
             " " + Quote(original.string()),
         0, ""},
        {"warned.xml", 0, warning},
        {"--werror warned.xml", 1, warning},
        {"broken.xml", 1,
         "broken.xml:" + brokenLine +
             ": error: Rule is corrupt, class provided is : Always [rule-file-invalid]\n"},
        {"warned.xml absent.xml", 2,
         warning + "absent.xml: error: cannot read the file (XML_ERROR_FILE_NOT_FOUND) "
                   "[unreadable]\n"},
        // The sample machine's run reads the model-170 file and takes its
        // second os element; a snapshot that is not one is a bad input.
        {"--machine " + Quote(sample) + " warned.xml", 0,
         warning + "warned.xml: note: the run of " + sample +
             " reads rules_for_soc\\Family_6_Model_170_Microsoft_Windows_10.xml, not this file "
             "[machine-rule-file]\nwarned.xml:418: note: the run of " +
             sample + " (OS build 22631) takes this os element [machine-os]\n"},
        {"--machine warned.xml warned.xml", 2, ""},
    };
    for (const Case& c : cases) {
        const Ran ran = RunCommand(check + c.arguments, dir.Path());
        EXPECT_EQ(ran.status, c.status) << c.arguments << "\n" << ran.out << ran.err;
        EXPECT_EQ(ran.out.substr(0, c.out.size()), c.out) << c.arguments;
        if (c.status == 2 && c.out.empty() && c.arguments.rfind("--machine", 0) != 0) {
            EXPECT_NE(ran.err.find("usage: dormex-rules-check"), std::string::npos) << c.arguments;
        }
    }

    const Ran json =
        RunCommand(check + "--format=json warned.xml broken.xml absent.xml", dir.Path());
    EXPECT_EQ(json.status, 2);
    const auto list = nlohmann::json::parse(json.out);
    ASSERT_TRUE(list.is_array());
    std::vector<std::string> codes;
    for (const auto& diagnostic : list) {
        codes.push_back(diagnostic["file"].get<std::string>() + " " +
                        diagnostic["severity"].get<std::string>() + " " +
                        diagnostic["code"].get<std::string>());
    }
    EXPECT_EQ(codes, (std::vector<std::string>{
                         "warned.xml warning state-not-decimal",
                         "broken.xml error rule-file-invalid", "broken.xml note rule-file-invalid",
                         "broken.xml note rule-file-invalid", "absent.xml error unreadable"}));
}

// A lab of every scenario's machine and a synthetic one: each capture gives
// the files of a dormex run from its output folder with that folder as the
// profile (the results' start time aside); the invalid snapshot and one with
// a number out of range fail, the rest complete.
TEST(Lab, RunsEachCaptureAsDormexWould)
{
    const dormex::test::TempDir dir;
    const fs::path lib = dir.Path() / "lib";
    for (const std::string& name : ScenarioNames()) {
        const Scenario scenario(name);
        if (scenario.recorded.at("machine") != "embedded") {
            fs::create_directories(lib);
            fs::copy_file(scenario.folders.machine, lib / (name + ".json"));
        }
    }
    WriteFile(lib / "out-of-range.json", R"({"format": "dormex-machine/1", "description": 1e400})");
    const fs::path rules = dir.Path() / "rules";
    fs::copy(fs::path(DORMEX_SOURCE_DIR) / "rules_for_soc", rules);
#ifdef DORMEX_SYNTH_EXE
    RunCommand(Quote(DORMEX_SYNTH_EXE) + " 400 50 " + Quote((dir.Path() / "synth").string()),
               dir.Path());
    fs::copy_file(dir.Path() / "synth" / "machine.json", lib / "synthetic-400.json");
    fs::copy(dir.Path() / "synth" / "rules_for_soc", rules);
#endif
    const std::string lab = Quote(DORMEX_LAB_EXE) + " run " + Quote(lib.string()) + " --rules " +
                            Quote(rules.string()) + " --out ";
    const Ran ran = RunCommand(lab + Quote((dir.Path() / "results").string()), dir.Path());
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(
        ran.out.find("\nfailed  " + (lib / "snapshot-invalid.json").string() +
                     ": machine "
                     "snapshot " +
                     (lib / "snapshot-invalid.json").string() + ": $.registyr: unknown member\n"),
        std::string::npos)
        << ran.out;
    EXPECT_NE(ran.out.find(" current, 2 failed, 0 stopped\n"), std::string::npos) << ran.out;

    auto withoutTime = [](const fs::path& results) {
        nlohmann::json document = nlohmann::json::parse(ReadFile(results));
        document.erase("time");
        return document;
    };
    size_t compared = 0;
    for (const auto& entry : fs::directory_iterator(dir.Path() / "results")) {
        const fs::path folder = entry.path();
        // Nothing is left under a partial name, a failed trace's file included.
        for (const auto& file : fs::directory_iterator(folder)) {
            EXPECT_NE(file.path().extension(), ".partial") << file.path();
        }
        // The lab's files aside; dormex writes its own into the folder.
        const fs::path apart = dir.Path() / "lab";
        fs::copy(folder, apart);
        fs::create_directory_symlink(rules, folder / "rules_for_soc");
        RunCommand("cd " + Quote(folder.string()) +
                       " && env -i PATH=/usr/bin:/bin USERPROFILE=" + Quote(folder.string()) +
                       " DORMEX_MACHINE=" + Quote((lib / folder.filename()).string()) +
                       " DORMEX_RESULTS=" + Quote((folder / "dormex-results.json").string()) + " " +
                       Quote(DORMEX_EXE) + " < /dev/null",
                   dir.Path());
        fs::remove(folder / "rules_for_soc");
        for (const char* name : {"VQT-Report.html", "VQT-Debug-Log.txt"}) {
            EXPECT_EQ(ReadFile(apart / name), ReadFile(folder / name)) << folder << name;
        }
        EXPECT_EQ(withoutTime(apart / "dormex-results.json"),
                  withoutTime(folder / "dormex-results.json"))
            << folder;
        fs::remove_all(apart);
        ++compared;
    }
    EXPECT_EQ(compared + 2, static_cast<size_t>(std::distance(fs::directory_iterator(lib), {})));

    // Three shards take every capture once between them.
    std::vector<std::string> sharded;
    for (const char* shard : {"1/3", "2/3", "3/3"}) {
        std::istringstream lines(
            RunCommand(lab + Quote((dir.Path() / "shards").string()) + " --shard " + shard,
                       dir.Path())
                .out);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("done    ", 0) == 0 || line.rfind("failed  ", 0) == 0) {
                sharded.push_back(line.substr(8, line.find(": ") - 8));
            }
        }
    }
    std::sort(sharded.begin(), sharded.end());
    EXPECT_EQ(std::adjacent_find(sharded.begin(), sharded.end()), sharded.end());
    EXPECT_EQ(sharded.size(), compared + 2);
}

// A lab run killed half-way and run again: what completed is not run twice,
// and no partial file is left.
TEST(Lab, ResumesAfterBeingKilled)
{
    const dormex::test::TempDir dir;
    const std::string sample = ReadFile(fs::path(DORMEX_SOURCE_DIR) / "machines" / "sample.json");
    constexpr size_t Captures = 200;
    for (size_t i = 0; i < Captures; ++i) {
        WriteFile(dir.Path() / "lib" / ("sku" + std::to_string(i) + ".json"), sample);
    }
    const std::string lab = Quote(DORMEX_LAB_EXE) + " run lib --jobs 1 --out results --rules " +
                            Quote((fs::path(DORMEX_SOURCE_DIR) / "rules_for_soc").string());
    // Killed as soon as its first capture is done, however fast the build.
    RunCommand("cd " + Quote(dir.Path().string()) + " && { " + lab +
                   " & pid=$!; for _ in $(seq 3000); do [ -n \"$(find results -name "
                   "dormex-results.json 2>/dev/null | head -n 1)\" ] && break; sleep 0.01; "
                   "done; kill -KILL $pid; wait $pid; }",
               dir.Path());
    size_t completed = 0;
    for (const auto& entry : fs::directory_iterator(dir.Path() / "results")) {
        completed += fs::exists(entry.path() / "dormex-results.json");
    }
    EXPECT_LT(completed, Captures) << "the lab finished before it was killed";
    const Ran again = RunCommand("cd " + Quote(dir.Path().string()) + " && " + lab, dir.Path());
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("dormex-lab: " + std::to_string(Captures) + " captures in "),
              std::string::npos);
    EXPECT_NE(again.out.find(": " + std::to_string(Captures - completed) + " done, " +
                             std::to_string(completed) + " current, 0 failed"),
              std::string::npos)
        << again.out;
    for (const auto& entry : fs::recursive_directory_iterator(dir.Path() / "results")) {
        EXPECT_NE(entry.path().extension(), ".partial") << entry.path();
    }
}

// Three runs of the sample in which the USB problem code appears in the
// second and is mended in the third, then one where it comes back last:
// history says where it was first seen and fixed, and --fail-on new fails
// only the second series.
TEST(Lab, HistoryGatesOnANewFinding)
{
    const dormex::test::TempDir dir;
    nlohmann::json sample =
        nlohmann::json::parse(ReadFile(fs::path(DORMEX_SOURCE_DIR) / "machines" / "sample.json"));
    WriteFile(dir.Path() / "lib" / "broken.json", sample.dump());
    sample["devices"]["USB\\VID_2F4A&PID_0C11\\5&1A2B3C4D&0&1"]["ProblemCode"] = 0;
    WriteFile(dir.Path() / "lib" / "mended.json", sample.dump());
    RunCommand(Quote(DORMEX_LAB_EXE) + " run " + Quote((dir.Path() / "lib").string()) + " --out " +
                   Quote((dir.Path() / "results").string()) + " --rules " +
                   Quote((fs::path(DORMEX_SOURCE_DIR) / "rules_for_soc").string()),
               dir.Path());
    auto history = [&](const std::vector<std::string>& series) {
        std::string files;
        for (size_t i = 0; i < series.size(); ++i) {
            nlohmann::ordered_json results = nlohmann::ordered_json::parse(
                ReadFile(dir.Path() / "results" / series[i] / "dormex-results.json"));
            results["time"] = "2026-12-0" + std::to_string(i + 1) + "T08:00:00Z";
            const fs::path file = dir.Path() / ("run" + std::to_string(i) + ".json");
            WriteFile(file, results.dump());
            files += " " + Quote(file.string());
        }
        return RunCommand(Quote(DORMEX_LAB_EXE) + " history --fail-on new" + files, dir.Path());
    };
    const std::string usb =
        "DeviceProblemCode USB\\VID_2F4A&PID_0C11\\5&1A2B3C4D&0&1: problem "
        "code 28; ask driver vendor\n    ";
    const Ran fixed = history({"mended.json", "broken.json", "mended.json"});
    EXPECT_EQ(fixed.status, 0) << fixed.out << fixed.err;
    EXPECT_NE(fixed.out.find(usb + "first seen in run 2, fixed in run 3\n"), std::string::npos)
        << fixed.out;
    const Ran back = history({"broken.json", "mended.json", "broken.json"});
    EXPECT_EQ(back.status, 1) << back.out << back.err;
    EXPECT_NE(back.out.find(usb + "first seen in run 1, fixed in run 2, back in run 3 (open)\n"),
              std::string::npos)
        << back.out;
    EXPECT_NE(back.out.find("New in the latest run:\n  Halvard Computing Sparrowline 14 Gen 3 "
                            "(family 6 model 170 stepping 4): DeviceProblemCode USB"),
              std::string::npos)
        << back.out;
}

// The sample's packets: one for the BIOS and one per driver provider, which
// together hold the results' findings.
TEST(Lab, WritesAPacketPerOwner)
{
    const Scenario scenario(std::string("sample"));
    const fs::path results = scenario.folders.dir.Path() / "results.json";
    scenario.Run(" DORMEX_RESULTS=" + Quote(results.string()));
    const fs::path out = scenario.folders.dir.Path() / "packets";
    const Ran made = RunCommand(Quote(DORMEX_LAB_EXE) + " packets " + Quote(results.string()) +
                                    " --out=" + Quote(out.string()),
                                scenario.folders.dir.Path());
    ASSERT_EQ(made.status, 0) << made.err;
    std::map<std::string, size_t> findings;  // file -> numbered sections
    for (const auto& entry : fs::directory_iterator(out)) {
        const std::string text = ReadFile(entry.path());
        for (size_t at = text.find("\n## "); at != std::string::npos;
             at = text.find("\n## ", at + 1)) {
            ++findings[entry.path().filename().string()];
        }
    }
    const std::map<std::string, size_t> expected = {{"BIOS.md", 5},
                                                    {"driver-Halvorsen-Systems.md", 2},
                                                    {"driver-Microsoft.md", 1},
                                                    {"driver-Zephlink-Semiconductor.md", 1},
                                                    {"driver-vendor-no-device.md", 1}};
    EXPECT_EQ(findings, expected);
    const Ran shown =
        RunCommand(Quote(DORMEX_LAB_EXE) + " show " + Quote(results.string()) + " --by device",
                   scenario.folders.dir.Path());
    EXPECT_NE(shown.out.find("== Zephlink ZL-200 Port Controller (2) =="), std::string::npos)
        << shown.out;
}

INSTANTIATE_TEST_SUITE_P(, Scenarios, ::testing::ValuesIn(ScenarioNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
