#include <gtest/gtest.h>
#include <sstream>

#include "TestPlatform.h"
#include "analysis/ConstraintAnalysis.h"
#include "report/ErrorTemplates.h"
#include "report/MachineSections.h"
#include "report/ReportDocument.h"
#include "report/RundownSection.h"
#include "rules/RuleSet.h"
#include "sysinfo/SystemInfo.h"
#include "trace/RundownLists.h"

namespace dormex {
namespace {

// The records a report is made of, empty unless a test fills them.
struct Report {
    test::LogCapture capture;
    SystemInfo system;
    ErrorRegistry errors;
    DevicePropertiesByInstancePath devices;
    LpitTable lpit;
    std::string lpitStatus;
    RundownLists rundowns;
    ConstraintAnalysis analysis;

    ReportContents Contents()
    {
        return {system, errors, devices, lpit, lpitStatus, rundowns, analysis};
    }
    std::string Build() { return BuildReport(Contents(), capture.Log); }
};

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The tool runs as administrator: a link planted where it writes must not let
// anyone overwrite, or create, the file the link names. An old, longer report
// is replaced whole; a report that cannot be written is a scenario.
TEST(WriteReport, ReplacesWhatIsThereWithoutWritingThroughALink)
{
    Report report;
    report.analysis.CdrList.emplace_back();
    const std::filesystem::path dir = report.capture.Dir.Path();
    const std::filesystem::path path = dir / "VQT-Report.html";
    test::WriteFile(dir / "victim.txt", "precious");
    for (const std::string target : {"", "victim.txt", "dangling.txt"}) {
        std::filesystem::remove(path);
        std::error_code error;
        if (target.empty()) {
            test::WriteFile(path, std::string(100000, 'x'));
        } else {
            std::filesystem::create_symlink(dir / target, path, error);
        }
        if (error) {
            GTEST_SKIP() << "no symbolic links here: " << error.message();
        }
        EXPECT_TRUE(WriteReport(path.string(), report.Contents(), report.capture.Log,
                                report.capture.Files));
        EXPECT_FALSE(std::filesystem::is_symlink(path)) << target;
        EXPECT_EQ(test::ReadFile(path), report.Build()) << target;
    }
    EXPECT_EQ(test::ReadFile(dir / "victim.txt"), "precious");
    EXPECT_FALSE(std::filesystem::exists(dir / "dangling.txt"));
}

TEST(WriteRundownSection, PepStatesAndEscapedPaths)
{
    RundownLists lists;
    lists.PepDeviceRundownList.push_back({"0x1", "\\_SB.PC00.HDAS", 1, {3, 0, 0}});
    lists.PepDeviceRundownList.push_back({"0x2", "\\_SB.PC00.I2C0", 1, {3, 0, 0}});
    lists.PepComponentRundownList.push_back({"0x1", "\\_SB.PC00.HDAS", 1, {0, 0, 0}});
    lists.PepComponentRundownList.push_back({"0x1", "\\_SB.PC00.HDAS", 1, {1, 0, 0}});
    lists.PoDeviceList.push_back({"0x1", "PCI\\A&B<C>", "HDAudBus"});
    std::ostringstream out;
    WriteRundownSection(out, lists);
    const std::string html = out.str();
    EXPECT_TRUE(
        Contains(html,
                 "<table><tr><th class=\"header\">Handle</th><th class=\"header\">AcpiName</th>"
                 "<th class=\"header\">D-state/F-state Dependency</th></tr><tr><td "
                 "class=\"data\">0x1</td><td class=\"data\">\\_SB.PC00.HDAS</td><td "
                 "class=\"data\">[[D:3, F:0]]</td><tr><td class=\"data\">0x2</td><td "
                 "class=\"data\">\\_SB.PC00.I2C0</td><td class=\"data\">[]</td></table>"));
    EXPECT_TRUE(Contains(html,
                         "<tr><td class=\"data\">HDAudBus</td><td "
                         "class=\"data\">PCI\\A&amp;B&lt;C&gt;</td></tr></table></div>"));
}

}  // namespace
}  // namespace dormex
