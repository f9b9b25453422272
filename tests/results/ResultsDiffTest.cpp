#include <gtest/gtest.h>

#include "common/StrictJson.h"
#include "results/ResultsDiff.h"

namespace dormex {
namespace {

using Json = nlohmann::ordered_json;

Json Finding(int kind, const std::string& kindName, Json device, Json cls, Json rule)
{
    return {{"kind", kind}, {"kindName", kindName}, {"device", device},  {"class", cls},
            {"rule", rule}, {"expected", nullptr},  {"actual", nullptr}, {"actionBy", "BIOS"}};
}

Json Mismatch(const std::string& device)
{
    Json finding =
        Finding(2, "PowerStateMismatch", device, "imaging",
                {{"regex", ".*\\.IPU0"}, {"serviceName", "hvcamera"}, {"type", "dynamic"}});
    finding["expected"] = Json::array({{{"D", 3}, {"F", 0}}});
    finding["actual"] = Json::array({{{"D", 0}, {"F", nullptr}}});
    return finding;
}

std::string Document(const Json& findings)
{
    return Json{{"format", "dormex-results/1"},
                {"outcome", {{"result", "completed"}, {"code", 0}}},
                {"findings", findings}}
        .dump();
}

std::vector<ComparedFinding> Read(const Json& findings)
{
    auto read = ReadComparedFindings(Document(findings));
    if (auto* fault = std::get_if<std::string>(&read)) {
        ADD_FAILURE() << *fault;
        return {};
    }
    return std::get<std::vector<ComparedFinding>>(read);
}

std::vector<std::string> Devices(const std::vector<const ComparedFinding*>& findings)
{
    std::vector<std::string> devices;
    for (const ComparedFinding* finding : findings) {
        devices.push_back(finding->Finding["device"]);
    }
    return devices;
}

// The same device is the same finding wherever it stands; a key found more
// often in one run than in the other leaves the surplus new or fixed.
TEST(DiffResults, MatchesFindingsByKeyNotByPlace)
{
    struct Case {
        std::vector<std::string> before, after, fresh, fixed, unchanged;
    };
    const Case cases[] = {
        {{}, {}, {}, {}, {}},
        {{"A", "B"}, {"B", "A"}, {}, {}, {"B", "A"}},
        {{"A", "B", "C"}, {"C", "A"}, {}, {"B"}, {"C", "A"}},
        {{"A"}, {"B", "A", "C"}, {"B", "C"}, {}, {"A"}},
        {{"A", "A"}, {"A"}, {}, {"A"}, {"A"}},
        {{"A"}, {"A", "A"}, {"A"}, {}, {"A"}},
        {{"A", "B"}, {}, {}, {"A", "B"}, {}},
    };
    for (const Case& c : cases) {
        Json before = Json::array();
        Json after = Json::array();
        for (const std::string& device : c.before) {
            before.push_back(Mismatch(device));
        }
        for (const std::string& device : c.after) {
            after.push_back(Mismatch(device));
        }
        const std::vector<ComparedFinding> older = Read(before);
        const std::vector<ComparedFinding> newer = Read(after);
        const ResultsDiff diff = DiffResults(older, newer);
        const std::string which =
            ::testing::PrintToString(c.before) + " to " + ::testing::PrintToString(c.after);
        EXPECT_EQ(Devices(diff.New), c.fresh) << which;
        EXPECT_EQ(Devices(diff.Fixed), c.fixed) << which;
        EXPECT_EQ(Devices(diff.Unchanged), c.unchanged) << which;
    }
}

// Kind, device, class and the rule's service name and pattern make a
// finding; its states and the rule's type (which class invalidators rewrite)
// do not.
TEST(ReadComparedFindings, KeysBySameFaultOnSameDevice)
{
    struct Case {
        const char* change;
        void (*apply)(Json&);
        bool sameFinding;
    };
    const Case cases[] = {
        {"actual states", [](Json& f) { f["actual"][0]["D"] = 3; }, true},
        {"rule type", [](Json& f) { f["rule"]["type"] = "requiredNo"; }, true},
        {"kind", [](Json& f) { f["kind"] = 3; }, false},
        {"device", [](Json& f) { f["device"] = "\\_SB.PC00.IPU1"; }, false},
        {"class", [](Json& f) { f["class"] = "audio"; }, false},
        {"service name", [](Json& f) { f["rule"]["serviceName"] = "other"; }, false},
        {"pattern", [](Json& f) { f["rule"]["regex"] = ".*"; }, false},
        {"device info",
         [](Json& f) {
             f["deviceInfo"] = {{"name", "Camera"}};
         },
         true},
    };
    const Json original = Mismatch("\\_SB.PC00.IPU0");
    for (const Case& c : cases) {
        Json changed = original;
        c.apply(changed);
        const std::vector<ComparedFinding> findings = Read(Json::array({original, changed}));
        ASSERT_EQ(findings.size(), 2u);
        EXPECT_EQ(findings[0].Key == findings[1].Key, c.sameFinding) << c.change;
    }
}

// The path of the array that opens one level too deep under $.outcome.stop.
std::string DeepIndexPath()
{
    std::string path;
    for (int level = 2; level < MaxJsonDepth; ++level) {
        path += "[0]";
    }
    return path;
}

// A document that cannot be compared is refused with the member at fault; a
// file that is not JSON is the command-line test's.
TEST(ReadComparedFindings, NamesWhatIsWrongWithADocument)
{
    Json badState = Mismatch("\\_SB.PC00.IPU0");
    badState["actual"][0]["F"] = "0";
    Json badInfo = Mismatch("\\_SB.PC00.IPU0");
    badInfo["deviceInfo"] = {{"name", nullptr}, {"driverVersion", 10}};
    const std::pair<std::string, std::string> cases[] = {
        {R"({"format": "dormex-machine/1"})",
         "$.format: not \"dormex-results/1\" (not a Dormex results file)"},
        {R"({"format": "dormex-results/1", "issues": "10"})",
         "$.issues: not a count (an integer from 0)"},
        {R"({"format": "dormex-results/1", "machine": null})", "$.machine: not an object"},
        {R"({"format": "dormex-results/1", "outcome": {"result": "stopped",
             "stop": "trace-failed", "code": 183, "message": "x"}, "findings": []})",
         "the run stopped before its report (trace-failed, code 183): it has no findings to "
         "compare"},
        {Document(Json::array({badState})), "$.findings[0].actual[0].F: not an integer or null"},
        {Document(Json::array({badInfo})),
         "$.findings[0].deviceInfo.driverVersion: not a string or null"},
        // Hostile files: no member silently wins, nesting stops at its limit, and a
        // refused value is quoted cut.
        {R"({"format": "dormex-results/1", "format": "dormex-results/1"})",
         "$.format: a member named twice"},
        {R"({"format": "dormex-results/1", "outcome": {"stop": )" + std::string(100000, '['),
         "$.outcome.stop" + DeepIndexPath() + ": nested deeper than 64 levels"},
        {R"({"format": "dormex-results/1", "outcome": {"result": "stopped", "stop": ")" +
             std::string(500, 'x') + R"(", "code": 1}})",
         "the run stopped before its report (" + std::string(60, 'x') +
             "..., code 1): it has no findings to compare"},
    };
    for (const auto& [json, fault] : cases) {
        auto read = ReadComparedFindings(json);
        ASSERT_TRUE(std::holds_alternative<std::string>(read)) << json;
        EXPECT_EQ(std::get<std::string>(read), fault);
    }
}

// The command-line test shows the text form and the summary; here a table
// whose cells hold Markdown's marks, the details below it, and the JSON
// document.
TEST(FormatDiff, MarkdownCellsStayTextAndJsonCounts)
{
    Json bang = Finding(6, "DeviceProblemCode", "USB\\VID_1&PID_2", nullptr, nullptr);
    bang["problemCode"] = 28;
    bang["actionBy"] = "driver vendor";
    bang["deviceInfo"] = Json::parse(R"({"name": "Reader | *fast*", "driverProvider": null,
        "instancePath": "USB\\VID_1&PID_2", "hardwareId": "USB\\VID_1", "driverVersion": "1.2"})");
    const Json odd = Finding(1, "DeviceClassConstraintMissing", "a|b`c", "x*y_z",
                             {{"regex", "``.*|"}, {"serviceName", ""}, {"type", "always"}});
    const Json cache = Finding(5, "StorageCacheConstraintMissing", nullptr, nullptr, nullptr);
    const std::vector<ComparedFinding> before = Read(Json::array({bang, cache}));
    const std::vector<ComparedFinding> after =
        Read(Json::array({Mismatch("\\_SB.PC00.IPU0"), odd, cache}));
    const ResultsDiff diff = DiffResults(before, after);
    // A '|' never ends a cell early, and only in a cell is it escaped; Markdown's
    // marks stay text.
    EXPECT_EQ(FormatDiff(diff, DiffFormat::Markdown),
              "**2 new, 1 fixed, 1 unchanged**\n\n"
              "| Change | Device | Kind | Ask |\n|---|---|---|---|\n"
              "| new | `\\_SB.PC00.IPU0` | PowerStateMismatch | BIOS |\n"
              "| new | ``a\\|b`c`` | DeviceClassConstraintMissing | BIOS |\n"
              "| fixed | Reader \\| \\*fast\\* `USB\\VID_1&PID_2` | DeviceProblemCode | driver "
              "vendor |\n"
              "| unchanged |  | StorageCacheConstraintMissing | BIOS |\n\n"
              "<details><summary>Details</summary>\n\n"
              "- new PowerStateMismatch on `\\_SB.PC00.IPU0`: class imaging; rule `hvcamera` "
              "`.*\\.IPU0`; expected D3/F0; actual D0/F-\n"
              "- new DeviceClassConstraintMissing on ``a|b`c``: class x\\*y\\_z; rule ``` ``.*| "
              "```\n"
              "- fixed DeviceProblemCode on Reader \\| \\*fast\\* `USB\\VID_1&PID_2`: problem "
              "code 28; hardware id `USB\\VID_1`; driver 1.2\n"
              "- unchanged StorageCacheConstraintMissing\n\n</details>\n");
    const Json document = Json::parse(FormatDiff(diff, DiffFormat::Json));
    EXPECT_EQ(document["counts"], (Json{{"new", 2}, {"fixed", 1}, {"unchanged", 1}}));
    EXPECT_EQ(document["fixed"][0]["problemCode"], 28);
    EXPECT_EQ(document["new"][1]["device"], "a|b`c");
}

// A results document of one run, with no findings, changed by a JSON merge patch.
ComparedRun RunOf(const char* patch)
{
    Json document = Json::parse(R"({"format": "dormex-results/1", "time": "2026-12-01T08:00Z",
        "machine": {"cpu": {"architecture": "x64", "family": 6, "model": 170, "stepping": 4},
            "osBuild": "22631", "bios": {"version": "1.0"}, "manufacturer": "Halv",
            "productName": "S14"},
        "ruleFile": {"path": "r\\F6.xml"}, "outcome": {"result": "completed"}, "findings": []})");
    document.merge_patch(Json::parse(patch));
    return std::get<ComparedRun>(ReadComparedRun(document.dump()));
}

// Each run is named whatever its file lacks; a new BIOS or OS build is the
// same machine, another product, processor or rule file is not.
TEST(FormatDiff, NamesBothRunsAndWarnsOfOtherMachinesAndRuleFiles)
{
    struct Case {
        const char *old, *now;
        std::string line;
        bool sameMachine, sameRuleFile;
    };
    const Case cases[] = {
        {"{}", R"({"machine": {"bios": {"version": "1.1"}, "osBuild": "26100"}})",
         "\nnew: Halv S14, BIOS 1.1, 2026-12-01T08:00Z, r\\F6.xml\n", true, true},
        // A file of an earlier version, beside one that names maker and product.
        {R"({"machine": {"manufacturer": null, "productName": null, "bios": {"version": "Unknown"}}})",
         "{}", "\nold: Family 6 Model 170, BIOS unknown, 2026-12-01T08:00Z, r\\F6.xml\n", true,
         true},
        {R"({"machine": null, "time": null, "ruleFile": null})", "{}",
         "\nold: unknown machine, BIOS unknown, time unknown, no rule file\n", true, true},
        {"{}", R"({"machine": {"productName": "S\n16"}})",
         "\nwarning: the two runs are of different machines (Halv S14; Halv S 16)\n", false, true},
        {"{}", R"({"machine": {"cpu": {"stepping": 5}}})",
         "\nwarning: the two runs are of different machines (Halv S14, Family 6 Model 170 Stepping "
         "4, x64; Halv S14, Family 6 Model 170 Stepping 5, x64)\n",
         false, true},
        {"{}", R"({"ruleFile": {"path": "r\\F6_b.xml"}})",
         "\nwarning: the two runs used different rule files (r\\F6.xml; r\\F6_b.xml)\n", true,
         false},
    };
    for (const Case& c : cases) {
        const DiffRuns runs{RunOf(c.old).Header, RunOf(c.now).Header};
        const std::string text = std::get<std::string>(FormatDiff({}, &runs, {}));
        EXPECT_NE(text.find(c.line), std::string::npos) << text;
        const Json document =
            Json::parse(std::get<std::string>(FormatDiff({}, &runs, {.Format = DiffFormat::Json})));
        EXPECT_EQ(document["sameMachine"], c.sameMachine) << c.line;
        EXPECT_EQ(document["sameRuleFile"], c.sameRuleFile) << c.line;
    }
    // Markdown shows a path as code, other text escaped.
    const DiffRuns runs{RunOf(cases[5].now).Header, RunOf(R"({"machine": {"bios": {"version": "1_0"}}})").Header};
    EXPECT_EQ(std::get<std::string>(FormatDiff({}, &runs, {.Format = DiffFormat::Markdown})),
              "**0 new, 0 fixed, 0 unchanged**\n\n"
              "- old: Halv S14, BIOS 1.0, 2026-12-01T08:00Z, `r\\F6_b.xml`\n"
              "- new: Halv S14, BIOS 1\\_0, 2026-12-01T08:00Z, `r\\F6.xml`\n\n"
              "**Warning:** the two runs used different rule files (`r\\F6_b.xml`; `r\\F6.xml`)\n");
}

// What a command line reads as, or what is wrong with it.
std::string Reading(const std::vector<std::string>& arguments)
{
    const auto parsed = ParseDiffOptions(arguments);
    if (const auto* fault = std::get_if<std::string>(&parsed)) {
        return *fault;
    }
    const DiffLayout& layout = std::get<DiffOptions>(parsed).Layout;
    const char* formats[] = {"text", "markdown", "json"};
    return ::testing::PrintToString(std::get<DiffOptions>(parsed).Files) + " " +
           formats[int(layout.Format)] + (layout.ChangesOnly ? " changes-only" : "") +
           (layout.MaxChars ? " max " + std::to_string(*layout.MaxChars) : "");
}

TEST(ParseDiffOptions, ReadsBothFormsOfAValueAndRefusesWhatItCannotUse)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"a", "b", "--format=markdown"}, R"({ "a", "b" } markdown)"},
        {{"--format", "json", "a", "--changes-only", "b"}, R"({ "a", "b" } json changes-only)"},
        {{"a", "--max-chars=100", "b", "--max-chars", "65536"}, R"({ "a", "b" } text max 65536)"},
        {{"a", "b", "--max-chars", "0"},
         R"(--max-chars needs a number of characters from 1, not "0")"},
        {{"a", "b", "--max-chars=99999999999999999999"},
         R"(--max-chars needs a number of characters from 1, not "99999999999999999999")"},
        {{"a", "b", "--format"}, "--format needs a value"},
        {{"a", "b", "--changes-only=yes"}, "unknown option --changes-only=yes"},
        {{"a"}, "two results files to compare are needed, not 1"},
    };
    for (const auto& [arguments, reading] : cases) {
        EXPECT_EQ(Reading(arguments), reading);
    }
}

// A listing cut to a size holds as many findings as fit and the note of the
// rest, in every format; one too long for a tracker says so when no size is
// given; the unchanged findings are counted and not listed with --changes-only.
TEST(FormatDiff, CutsToMaxCharsAndNotesWhatIsLeftOut)
{
    Json findings = Json::array();
    for (int i = 0; i < 1500; ++i) {
        findings.push_back(Mismatch("\\_SB.PC00.D" + std::to_string(i)));
    }
    const std::vector<ComparedFinding> after = Read(findings);
    const std::vector<ComparedFinding> before(after.begin() + 1000, after.end());
    const ResultsDiff diff = DiffResults(before, after);
    const DiffRuns runs{RunOf("{}").Header, RunOf("{}").Header};
    auto format = [&](DiffFormat format, std::optional<size_t> limit) {
        return FormatDiff(diff, &runs, {format, true, limit});
    };
    const std::string whole = std::get<std::string>(format(DiffFormat::Text, std::nullopt));
    const size_t noted = whole.rfind("note: ");
    EXPECT_EQ(whole.substr(0, whole.find('\n')), "1000 new, 0 fixed, 500 unchanged");
    EXPECT_EQ(whole.find("\nunchanged"), std::string::npos);
    EXPECT_EQ(whole.substr(noted), "note: this listing has " + std::to_string(noted) +
                                       " characters, more than the 65536 an issue tracker "
                                       "comment takes; --max-chars 65536 cuts it to fit\n");
    // The whole text up to its first `shown` findings, and the note of the rest.
    auto cut = [&](size_t shown, size_t limit) {
        size_t end = whole.find("\nnew ");
        for (size_t i = 0; i < shown; ++i) {
            end = whole.find('\n', end + 1);
        }
        return whole.substr(0, end + 1) + "note: " + std::to_string(1000 - shown) +
               " of 1000 findings left out to stay within " + std::to_string(limit) +
               " characters\n";
    };
    for (size_t limit : {1000, 20000, 65536}) {
        const std::string text = std::get<std::string>(format(DiffFormat::Text, limit));
        const size_t shown = std::count(text.begin(), text.end(), '\n') - 4;  // not the others
        EXPECT_EQ(text, cut(shown, limit));
        EXPECT_LE(text.size(), limit);
        EXPECT_GT(cut(shown + 1, limit).size(), limit);

        const std::string markdown = std::get<std::string>(format(DiffFormat::Markdown, limit));
        EXPECT_LE(markdown.size(), limit);
        EXPECT_NE(markdown.find("</details>\n\n**Note:** "), std::string::npos);
        const std::string json = std::get<std::string>(format(DiffFormat::Json, limit));
        EXPECT_LE(json.size(), limit);
        EXPECT_EQ(Json::parse(json)["new"].size() + Json::parse(json)["leftOut"].get<size_t>(),
                  1000u);
    }
    // Too small a size for the summary, the runs and the note: the least that
    // holds them.
    const size_t least = std::get<size_t>(format(DiffFormat::Markdown, 100));
    EXPECT_EQ(std::get<size_t>(format(DiffFormat::Markdown, least - 1)), least);
    EXPECT_LE(std::get<std::string>(format(DiffFormat::Markdown, least)).size(), least);
}

}  // namespace
}  // namespace dormex
