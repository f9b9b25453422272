#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestFiles.h"
#include "lab/CaptureFiles.h"
#include "lab/History.h"
#include "lab/LabRun.h"
#include "lab/Library.h"
#include "lab/Show.h"
#include "lab/Summary.h"
#include "lab/WhatIf.h"
#include "platform/NativeFileSystem.h"

namespace dormex {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;
using Kind = CaptureOutcome::Kind;

const fs::path SourceDir = DORMEX_SOURCE_DIR;

// The run sees its folder as profile and current folder, the rule folder as
// rules_for_soc, and writes each of its files under a partial name.
TEST(CaptureFiles, RedirectsTheRunsPaths)
{
    std::unique_ptr<FileSystem> native = MakeNativeFileSystem();
    CaptureFiles files(*native, "/lab/out/a.json", "/rules");
    const std::pair<const char*, const char*> cases[] = {
        {"/lab/out/a.json\\VQT-Report.html", "/lab/out/a.json\\VQT-Report.html.partial"},
        {"/lab/out/a.json/dormex-results.json", "/lab/out/a.json/dormex-results.json.partial"},
        {"/lab/out/a.json\\Desktop\\x", "/lab/out/a.json\\Desktop\\x"},
        {"/lab/out/a.json", "/lab/out/a.json"},
        {"/lab/out/a.jsonx\\y", "/lab/out/a.jsonx\\y"},
        {"rules_for_soc", "/rules"},
        {".\\rules_for_soc\\F.xml", "/rules\\F.xml"},
        {"rules_for_soc\\F.xml", "/rules\\F.xml"},
        {"rules_for_socks", "/lab/out/a.json\\rules_for_socks.partial"},
        {"/elsewhere/file", "/elsewhere/file"},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(files.Redirect(path), expected) << path;
    }
    EXPECT_EQ(EnvironmentValue(files, "USERPROFILE"), "/lab/out/a.json");
    EXPECT_EQ(EnvironmentValue(files, "DORMEX_RESULTS"), "/lab/out/a.json/dormex-results.json");
    EXPECT_EQ(EnvironmentValue(files, "DORMEX_RECORD"), "");
    EXPECT_EQ(EnvironmentValue(files, "PATH"), "");
}

TEST(Shards, TakeEachCaptureOnce)
{
    const std::pair<const char*, bool> texts[] = {
        {"1/3", true},  {"3/3", true}, {"1/1", true},  {"0/3", false},  {"4/3", false},
        {"1/0", false}, {"1", false},  {"a/3", false}, {"1/3x", false}, {"-1/3", false},
    };
    for (const auto& [text, valid] : texts) {
        EXPECT_EQ(ParseShard(text).has_value(), valid) << text;
    }
    std::vector<int> taken(300);
    for (uint32_t index = 1; index <= 3; ++index) {
        for (int i = 0; i < 300; ++i) {
            taken[i] += InShard("sku" + std::to_string(i) + "/bios.json", Shard{index, 3});
        }
    }
    for (int count : taken) {
        ASSERT_EQ(count, 1);
    }
    // Runners built apart must agree: the share of a path never changes.
    EXPECT_TRUE(InShard("a/b.json", Shard{892, 1000}));
    EXPECT_TRUE(InShard("sku7/bios-1.2.json", Shard{476, 1000}));
}

TEST(FindCaptures, TakesSnapshotsOfFoldersAndEveryNamedFile)
{
    test::TempDir dir;
    const fs::path lib = dir.Path() / "lib";
    WriteFile(lib / "b" / "late.json", R"({"events": [], "format": "dormex-machine/1"})");
    WriteFile(lib / "a.json", R"({"format": "dormex-machine/1"})");
    WriteFile(lib / "results.json", R"({"format": "dormex-results/1"})");
    WriteFile(lib / "notes.txt", "dormex-machine/1");
    WriteFile(lib / "out" / "x.json", R"({"format": "dormex-machine/1"})");
    WriteFile(dir.Path() / "other" / "a.json", "not even JSON");

    Library library = FindCaptures({(lib).string()}, lib / "out");
    ASSERT_EQ(library.Fault, "");
    std::vector<std::string> relative;
    for (const Capture& capture : library.Captures) {
        relative.push_back(capture.Relative);
    }
    EXPECT_EQ(relative, (std::vector<std::string>{"a.json", "b/late.json"}));
    EXPECT_EQ(library.Captures[1].Name, (lib / "b" / "late.json").string());
    EXPECT_EQ(library.NotCaptures.size(), 2u);

    // A named file is a capture whatever it holds; two that would share a
    // folder, or a missing one, are a bad command line.
    library = FindCaptures({(dir.Path() / "other" / "a.json").string()}, lib / "out");
    EXPECT_EQ(library.Captures.size(), 1u);
    library = FindCaptures({(lib / "a.json").string(), (dir.Path() / "other" / "a.json").string()},
                           lib / "out");
    EXPECT_NE(library.Fault.find("would share the output folder a.json"), std::string::npos);
    library = FindCaptures({(dir.Path() / "missing").string()}, lib / "out");
    EXPECT_NE(library.Fault.find("no such file or folder"), std::string::npos);
}

// A small library run twice: the invalid captures fail without stopping the
// others, and what completed is not run again until a rule file changes.
TEST(RunLab, RunsEachCaptureIntoItsFolderAndResumes)
{
    test::TempDir dir;
    const fs::path lib = dir.Path() / "lib";
    const std::string sample = ReadFile(SourceDir / "machines" / "sample.json");
    WriteFile(lib / "one.json", sample);
    WriteFile(lib / "sub" / "two.json", sample);
    WriteFile(lib / "huge.json", R"({"format": "dormex-machine/1", "description": 1e400})");
    WriteFile(lib / "cut.json", R"({"format": "dormex-machine/1", )");
    fs::copy(SourceDir / "rules_for_soc", dir.Path() / "rules");
    // Where the file system keeps times to the second (mingw's does), the
    // results must come a second after the folders made here, or they would
    // not count as newer.
    const fs::file_time_type made = fs::last_write_time(dir.Path() / "rules");
    if (made.time_since_epoch() % std::chrono::seconds(1) == fs::file_time_type::duration::zero()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    }
    // A partial file of an earlier, interrupted lab run.
    WriteFile(dir.Path() / "out" / "one.json" / "VQT-Report.html.partial", "half");

    std::unique_ptr<FileSystem> native = MakeNativeFileSystem();
    LabRunOptions options{dir.Path() / "out", dir.Path() / "rules", 2};
    Library library = FindCaptures({lib.string()}, options.Output);
    auto run = [&] {
        std::multiset<Kind> kinds;
        for (const CaptureOutcome& outcome :
             RunLab(library.Captures, options, *native, [](const auto&, const auto&) {})) {
            kinds.insert(outcome.Result);
        }
        return kinds;
    };
    EXPECT_EQ(run(), (std::multiset<Kind>{Kind::Done, Kind::Done, Kind::Failed, Kind::Failed}));
    for (const char* folder : {"one.json", "sub/two.json"}) {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.Path() / "out" / folder)) {
            names.insert(entry.path().filename().string());
        }
        EXPECT_EQ(names, (std::set<std::string>{"VQT-Report.html", "VQT-Debug-Log.txt",
                                                "dormex-results.json"}))
            << folder;
    }
    EXPECT_FALSE(fs::exists(dir.Path() / "out" / "huge.json"));
    const auto results = nlohmann::json::parse(
        ReadFile(dir.Path() / "out" / "sub" / "two.json" / "dormex-results.json"));
    EXPECT_EQ(PathOfUtf8(results["capture"]), lib / "sub" / "two.json");

    EXPECT_EQ(run(),
              (std::multiset<Kind>{Kind::UpToDate, Kind::UpToDate, Kind::Failed, Kind::Failed}));
    const fs::path ruleFile = dir.Path() / "rules" / "Family_6_Model_170_Microsoft_Windows_10.xml";
    fs::last_write_time(ruleFile, fs::file_time_type::clock::now() + std::chrono::hours(1));
    EXPECT_EQ(run().count(Kind::Done), 2u);

    // Past its time limit a run stops and leaves no files.
    options.Force = true;
    options.TimeLimit = std::chrono::milliseconds(0);
    EXPECT_EQ(run().count(Kind::Stopped), 2u);
    EXPECT_TRUE(fs::is_empty(dir.Path() / "out" / "one.json"));
}

// A rule of the model-170 rule file asks another state of the camera: only
// the machine of that model changes, and an invalid capture is not compared.
TEST(WhatIf, ChangesExactlyTheMachinesWithThatDevice)
{
    test::TempDir dir;
    nlohmann::json sample = nlohmann::json::parse(ReadFile(SourceDir / "machines" / "sample.json"));
    WriteFile(dir.Path() / "lib" / "model170.json", sample.dump());
    sample["registry"]["hardware\\description\\system\\centralprocessor\\0"]["Identifier"] =
        "Intel64 Family 6 Model 138 Stepping 1";
    WriteFile(dir.Path() / "lib" / "model138.json", sample.dump());
    WriteFile(dir.Path() / "lib" / "cut.json", R"({"format": "dormex-machine/1", )");
    const fs::path before = SourceDir / "rules_for_soc";
    const fs::path after = dir.Path() / "rules";
    fs::copy(before, after);
    const fs::path changed = after / "Family_6_Model_170_Microsoft_Windows_10.xml";
    std::string rules = ReadFile(changed);
    for (size_t camera = rules.find("<regex>.*\\.IPU0</regex>"); camera != std::string::npos;
         camera = rules.find("<regex>.*\\.IPU0</regex>", camera + 1)) {
        rules.replace(rules.find("<Dstate>3</Dstate>", camera), 18, "<Dstate>2</Dstate>");
    }
    WriteFile(changed, rules);

    std::unique_ptr<FileSystem> native = MakeNativeFileSystem();
    const Library library = FindCaptures({(dir.Path() / "lib").string()}, {});
    LabRunOptions options;
    options.Jobs = 2;
    const WhatIfReport report = RunWhatIf(library.Captures, options, before, after, *native);
    EXPECT_EQ(report.Altered, 1u);
    EXPECT_EQ(report.Uncompared, 1u);
    const std::string model170 = (dir.Path() / "lib" / "model170.json").string();
    EXPECT_NE(
        report.Text.find(model170 + "\n  appears     PowerStateMismatch \\_SB.PC00.IPU0 "
                                    "(imaging): expected D2/F0 D3/F1, actual D3/F0; ask BIOS\n"
                                    "  disappears  PowerStateMismatch \\_SB.PC00.IPU0 "
                                    "(imaging): expected D3/F0 D3/F1, actual D3/F0; ask BIOS\n"),
        std::string::npos)
        << report.Text;
    EXPECT_EQ(report.Text.find("model138"), std::string::npos) << report.Text;
    EXPECT_NE(report.Text.find("dormex-lab: the change alters the findings of 1 of 3 machines; 1 "
                               "could not be compared\n"),
              std::string::npos);
}

// Runs of one machine, each with the findings named by letters (a letter is
// a device); "!" for a run that stopped.
std::vector<RunRecord> Runs(const std::vector<std::pair<std::string, std::string>>& runs)
{
    std::vector<RunRecord> records;
    for (const auto& [bios, findings] : runs) {
        RunRecord run;
        run.Manufacturer = "Halvard";
        run.ProductName = "Sparrowline";
        run.Processor = "family 6 model 170 stepping 4";
        run.BiosVersion = bios;
        run.Time = "2026-12-0" + std::to_string(records.size() + 1) + "T10:00:00Z";
        if (findings == "!") {
            run.Stop = "trace-failed";
        }
        for (char device : findings == "!" ? std::string() : findings) {
            nlohmann::ordered_json finding = nlohmann::ordered_json::parse(
                R"({"kindName": "DeviceProblemCode", "class": null, "expected": null,
                    "actual": null, "actionBy": "driver vendor"})");
            finding["device"] = std::string(1, device);
            run.Findings.push_back({std::string(1, device), finding});
        }
        records.push_back(std::move(run));
    }
    return records;
}

TEST(History, FollowsEachFindingThroughTheRuns)
{
    struct Case {
        std::vector<std::pair<std::string, std::string>> runs;
        HistoryOrder order;
        std::vector<std::string> courses;  // of the findings, in the order first seen
        size_t newInLatest;
    };
    const Case cases[] = {
        {{{"1.0", "X"}, {"1.1", "XY"}, {"1.2", "X"}},
         HistoryOrder::Time,
         {"first seen in run 1 (open)", "first seen in run 2, fixed in run 3"},
         0},
        {{{"1.0", "X"}, {"1.1", ""}, {"1.2", "!"}, {"1.3", "X"}},
         HistoryOrder::Time,
         {"first seen in run 1, fixed in run 2, back in run 4 (open)"},
         1},
        // In BIOS order 1.9 comes before 1.10, whatever the times say.
        {{{"1.10", "Y"}, {"1.9", "X"}},
         HistoryOrder::Bios,
         {"first seen in run 1, fixed in run 2", "first seen in run 2 (open)"},
         1},
    };
    for (const Case& c : cases) {
        const History history = BuildHistory(Runs(c.runs), c.order);
        std::vector<std::string> courses;
        std::istringstream lines(history.Text);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("    first seen", 0) == 0) {
                courses.push_back(line.substr(4));
            }
        }
        EXPECT_EQ(courses, c.courses) << history.Text;
        EXPECT_EQ(history.NewInLatest.size(), c.newInLatest) << history.Text;
    }
    EXPECT_EQ(BuildHistory(Runs({{"1.0", "X"}, {"1.1", "!"}}), HistoryOrder::Time).Text,
              "Halvard Sparrowline (family 6 model 170 stepping 4): 2 runs\n"
              "  run 1  2026-12-01T10:00:00Z  BIOS 1.0  OS   \n"
              "  run 2  2026-12-02T10:00:00Z  BIOS 1.1  OS     (stopped: trace-failed)\n"
              "  DeviceProblemCode X; ask driver vendor\n"
              "    first seen in run 1 (open)\n");
}

// The summary's counts against a recount of the same runs; the Markdown form
// of a library with thousands of distinct findings stays under the limit.
TEST(Summary, CountsWhatTheRunsHold)
{
    std::vector<std::pair<std::string, std::string>> library;
    for (int i = 0; i < 60; ++i) {
        std::string devices;
        for (char device = 'A'; device <= 'H'; ++device) {
            if ((i + device) % (device - 'A' + 2) == 0) {
                devices += device;
            }
        }
        library.push_back({"1." + std::to_string(i % 4), i % 7 == 0 ? "!" : devices});
    }
    std::vector<RunRecord> runs = Runs(library);
    std::map<std::string, size_t> recount;
    size_t stopped = 0;
    Summary summary;
    for (size_t i = 0; i < runs.size(); ++i) {
        runs[i].Capture = "capture" + std::to_string(i);
        for (const ComparedFinding& finding : runs[i].Findings) {
            ++recount[FindingLine(finding.Finding)];
        }
        stopped += runs[i].Stop.has_value();
        summary.Add(runs[i]);
    }
    const auto document = nlohmann::json::parse(FormatSummary(summary, SummaryFormat::Json));
    std::map<std::string, size_t> counted;
    for (const auto& finding : document["findings"]) {
        counted[finding["finding"]] = finding["count"];
        EXPECT_EQ(finding["runs"].size(), finding["count"]);
    }
    EXPECT_EQ(counted, recount);
    EXPECT_EQ(document["stopped"].size(), stopped);
    EXPECT_EQ(document["machines"].size(), 4u);  // one per BIOS version
    size_t occurrences = 0;
    for (const auto& [line, count] : recount) {
        occurrences += count;
    }
    // Every finding asks the driver vendor.
    EXPECT_EQ(document["byActionBy"][0]["runs"], occurrences);

    Summary large;
    for (int i = 0; i < 3000; ++i) {
        RunRecord run = Runs({{"2.0", std::string(1, static_cast<char>('A' + i % 26))}}).front();
        run.Findings.front().Key += std::to_string(i);
        run.Findings.front().Finding["device"] = "\\_SB.PC00.D" + std::to_string(i);
        run.Capture = "sku" + std::to_string(i) + "/bios-2.0.json";
        large.Add(run);
    }
    const std::string markdown = FormatSummary(large, SummaryFormat::Markdown);
    EXPECT_LT(markdown.size(), TrackerCommentLimit);
    EXPECT_NE(markdown.find(" more rows left out to stay within 65536 characters"),
              std::string::npos);
}

// A run's findings with their devices' identities: D234 and D34 by one
// provider, one of them with a problem code as well, and the BIOS's.
RunRecord ShownRun(size_t findingsOfOneProvider)
{
    RunRecord run = Runs({{"2.0", ""}}).front();
    run.LpitStates = {"7"};
    auto add = [&](const std::string& json) {
        run.Findings.push_back({json, nlohmann::ordered_json::parse(json)});
    };
    add(R"({"kind": 6, "kindName": "DeviceProblemCode", "device": "PCI\\D34", "problemCode": 10,
            "actionBy": "driver vendor", "deviceInfo": {"name": "D34", "instancePath": "PCI\\D34",
                           "driverProvider": "Tovik,"}})");
    add(R"({"kind": 2, "kindName": "PowerStateMismatch", "device": "\\_SB.D34", "class": "x_y",
            "expected": [{"D": 3, "F": 0}, {"D": 3, "F": 1}], "actual": [{"D": 0, "F": null}],
            "actionBy": "BIOS", "deviceInfo": {"name": "D34", "instancePath": "PCI\\D34",
                           "driverProvider": "Tovik,"}})");
    for (size_t i = 0; i < findingsOfOneProvider; ++i) {
        add(R"({"kind": 0, "kindName": "ConstraintWithoutPofx", "device": "\\_SB.D234",
                "actionBy": "driver vendor", "deviceInfo": {"name": "D234", "driverProvider": "Tovik"}})");
    }
    return run;
}

TEST(Show, GroupsFindingsForThePeopleWhoActOnThem)
{
    const RunRecord run = ShownRun(1);
    const std::string byDevice = FormatShow(run, ShowFormat::Text, ShowGrouping::Device);
    // The problem code and the constraint of D34 are one group, before D234.
    EXPECT_NE(byDevice.find("== D34 (2) =="), std::string::npos) << byDevice;
    EXPECT_LT(byDevice.find("== D34 (2) =="), byDevice.find("== D234 (1) =="));
    EXPECT_NE(byDevice.find("Problem code: 10 (This device cannot start.)"), std::string::npos);
    EXPECT_NE(byDevice.find("LPIT state 0 (unique id 7): expected D3/F0, actual D0/F-\n"
                            "    LPIT state 1: expected D3/F1, actual not declared\n"),
              std::string::npos);
    const std::string byOwner = FormatShow(run, ShowFormat::Markdown, ShowGrouping::Owner);
    EXPECT_LT(byOwner.find("## BIOS (1)"), byOwner.find("## Tovik (1)"));
    EXPECT_NE(byOwner.find("- `\\_SB.D34` (x\\_y): PowerStateMismatch"), std::string::npos);
    const auto json = nlohmann::json::parse(FormatShow(run, ShowFormat::Json, ShowGrouping::Kind));
    EXPECT_EQ(json["groups"].size(), 3u);
    EXPECT_EQ(json["counts"][0], "3 findings");
}

// Each owner's packet stays under a tracker's limit, in parts when it must,
// and the packets hold every finding once.
TEST(Packets, SplitEachOwnersFindingsUnderTheLimit)
{
    RunRecord run = ShownRun(400);
    // What a hostile file can put in a finding: long values, fences, lines.
    nlohmann::ordered_json hostile = nlohmann::ordered_json::parse(
        R"({"kind": 0, "kindName": "ConstraintWithoutPofx", "actionBy": "driver vendor",
            "expected": [], "actual": []})");
    hostile["device"] = "``" + std::string(5000, 'x');
    hostile["deviceInfo"] = {{"name", "Evil\n# Fake"},
                             {"driverProvider", std::string(900, '*')},
                             {"hardwareId", std::string(900, '`')}};
    for (int i = 0; i < 16; ++i) {
        hostile["expected"].push_back({{"D", std::string(1000, '_')}, {"F", 0}});
        hostile["actual"].push_back({{"D", std::string(1000, '_')}, {"F", 0}});
    }
    run.Findings.push_back({"hostile", hostile});
    const std::vector<Packet> packets = MakePackets(run);
    size_t findings = 0;
    std::set<std::string> names;
    for (const Packet& packet : packets) {
        EXPECT_LT(packet.Text.size(), TrackerCommentLimit) << packet.FileName;
        EXPECT_TRUE(names.insert(packet.FileName).second) << packet.FileName;
        findings += packet.Findings;
    }
    EXPECT_EQ(findings, run.Findings.size());
    ASSERT_GE(packets.size(), 4u);
    EXPECT_EQ(packets[0].FileName, "BIOS.md");
    EXPECT_EQ(packets[1].FileName, "driver-Tovik-1-of-2.md");
    EXPECT_NE(packets[1].Text.find(" (file 1 of 2)\n"), std::string::npos);
    for (const Packet& packet : packets) {
        EXPECT_EQ(packet.Text.find("\n# Fake"), std::string::npos) << packet.Text;
    }
    EXPECT_NE(packets[3].Text.find("_The rest of this finding is left out._"), std::string::npos);
    // "Tovik," makes the same file name as "Tovik", and gets one of its own.
    std::vector<std::string> small;
    for (const Packet& packet : MakePackets(ShownRun(1))) {
        small.push_back(packet.FileName);
    }
    EXPECT_EQ(small, (std::vector<std::string>{"BIOS.md", "driver-Tovik.md", "driver-Tovik-2.md"}));
}

}  // namespace
}  // namespace dormex
