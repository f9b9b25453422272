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
// whose cells hold Markdown's marks, and the JSON document.
TEST(FormatDiff, MarkdownCellsStayTextAndJsonCounts)
{
    Json bang = Finding(6, "DeviceProblemCode", "USB\\VID_1&PID_2", nullptr, nullptr);
    bang["problemCode"] = 28;
    bang["actionBy"] = "driver vendor";
    const Json odd = Finding(1, "DeviceClassConstraintMissing", "a|b`c", "x*y_z",
                             {{"regex", "``.*|"}, {"serviceName", ""}, {"type", "always"}});
    const Json cache = Finding(5, "StorageCacheConstraintMissing", nullptr, nullptr, nullptr);
    const std::vector<ComparedFinding> before = Read(Json::array({bang, cache}));
    const std::vector<ComparedFinding> after =
        Read(Json::array({Mismatch("\\_SB.PC00.IPU0"), odd, cache}));
    const ResultsDiff diff = DiffResults(before, after);
    // A '|' never ends a cell early; Markdown's marks stay text.
    EXPECT_EQ(FormatDiff(diff, DiffFormat::Markdown),
              "**2 new, 1 fixed, 1 unchanged**\n\n"
              "| Change | Kind | Device | Class | Rule | Expected | Actual | Problem code | Ask |\n"
              "|---|---|---|---|---|---|---|---|---|\n"
              "| new | PowerStateMismatch (2) | `\\_SB.PC00.IPU0` | imaging | `hvcamera` "
              "`.*\\.IPU0` | D3/F0 | D0/F- |  | BIOS |\n"
              "| new | DeviceClassConstraintMissing (1) | ``a\\|b`c`` | x\\*y\\_z | ``` ``.*\\| "
              "``` |  |  |  | BIOS |\n"
              "| fixed | DeviceProblemCode (6) | `USB\\VID_1&PID_2` |  |  |  |  | 28 | driver "
              "vendor |\n"
              "| unchanged | StorageCacheConstraintMissing (5) |  |  |  |  |  |  | BIOS |\n");
    const Json document = Json::parse(FormatDiff(diff, DiffFormat::Json));
    EXPECT_EQ(document["counts"], (Json{{"new", 2}, {"fixed", 1}, {"unchanged", 1}}));
    EXPECT_EQ(document["fixed"][0]["problemCode"], 28);
    EXPECT_EQ(document["new"][1]["device"], "a|b`c");
}

}  // namespace
}  // namespace dormex
