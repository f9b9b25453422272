#include <gtest/gtest.h>

#include "TestPlatform.h"
#include "analysis/ConstraintAnalysis.h"
#include "report/ErrorTemplates.h"
#include "report/MachineSections.h"
#include "report/ReportDocument.h"
#include "report/RuleMatchList.h"
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

TEST(WriteReport, ReplacesAnOldReportAndFailsWhereItCannotWrite)
{
    Report report;
    report.analysis.CdrList.emplace_back();
    std::string path = report.capture.AddFile("VQT-Report.html", std::string(100000, 'x'));
    EXPECT_TRUE(WriteReport(path, report.Contents(), report.capture.Log, report.capture.Files));
    std::string written = test::ReadFile(path);
    EXPECT_EQ(written.rfind("<!DOCTYPE html><html><head><meta http-equiv=\"Content-Type\" "
                            "content=\"text/html; charset = utf-8 /\"><style>body{padding:1em;",
                            0),
              0u);
    EXPECT_EQ(written, report.Build());

    std::string folder = (report.capture.Dir.Path() / "missing" / "VQT-Report.html").string();
    EXPECT_FALSE(WriteReport(folder, report.Contents(), report.capture.Log, report.capture.Files));
}

// The tool runs as administrator: a link planted where it writes must not let
// anyone overwrite, or create, the file the link names.
TEST(WriteReport, ReplacesAPlantedLinkInsteadOfWritingThroughIt)
{
    Report report;
    report.analysis.CdrList.emplace_back();
    const std::filesystem::path dir = report.capture.Dir.Path();
    const std::filesystem::path victim = dir / "victim.txt";
    test::WriteFile(victim, "precious");
    for (const char* target : {"victim.txt", "dangling.txt"}) {
        const std::filesystem::path reportPath = dir / "VQT-Report.html";
        std::filesystem::remove(reportPath);
        std::error_code error;
        std::filesystem::create_symlink(dir / target, reportPath, error);
        if (error) {
            GTEST_SKIP() << "no symbolic links here: " << error.message();
        }
        EXPECT_TRUE(WriteReport(reportPath.string(), report.Contents(), report.capture.Log,
                                report.capture.Files));
        EXPECT_FALSE(std::filesystem::is_symlink(reportPath)) << target;
        EXPECT_EQ(test::ReadFile(victim), "precious");
        EXPECT_FALSE(std::filesystem::exists(dir / "dangling.txt"));
    }
}

TEST(BuildRundownSection, TablesAndTheirEmptyHeadings)
{
    RundownLists empty;
    EXPECT_EQ(BuildRundownSection(empty),
              "<div class=\"rundowns\"><h3>PEP Device List</h3><h4>This list contains the device "
              "and device states enumerated by the platform needed to achieve the lowest platform "
              "power state.</h4><table><h3>No Pep Rundowns Availible.</h3></table><h3>PoFx Device "
              "List</h3><h4>This list contains the device drivers on the platform that support the "
              "Microsoft PoFx API.</h4><table><h3>No PoFx Rundowns Availible.</h3></table><h3>OS "
              "Device List</h3><table><h3>No Po Rundowns Availible.</h3></table></div>");

    RundownLists lists;
    lists.PepDeviceRundownList.push_back({"0x1", "\\_SB.PC00.HDAS", 1, {3, 0, 0}});
    lists.PepDeviceRundownList.push_back({"0x2", "\\_SB.PC00.I2C0", 1, {3, 0, 0}});
    lists.PepComponentRundownList.push_back({"0x1", "\\_SB.PC00.HDAS", 1, {0, 0, 0}});
    lists.PepComponentRundownList.push_back({"0x1", "\\_SB.PC00.HDAS", 1, {1, 0, 0}});
    lists.PoFxRundownList.push_back({0, "\\_SB.PC00.XHCI", "PCI\\X", ""});
    lists.PoDeviceList.push_back({"0x1", "PCI\\A&B<C>", "HDAudBus"});
    std::string html = BuildRundownSection(lists);
    EXPECT_TRUE(
        Contains(html,
                 "<table><tr><th class=\"header\">Handle</th><th class=\"header\">AcpiName</th>"
                 "<th class=\"header\">D-state/F-state Dependency</th></tr><tr><td "
                 "class=\"data\">0x1</td><td class=\"data\">\\_SB.PC00.HDAS</td><td "
                 "class=\"data\">[[D:3, F:0]]</td><tr><td class=\"data\">0x2</td><td "
                 "class=\"data\">\\_SB.PC00.I2C0</td><td class=\"data\">[]</td></table>"));
    EXPECT_TRUE(
        Contains(html,
                 "<table><tr><th class=\"header\">DeviceId</th><th "
                 "class=\"header\">Service Name</th></tr><tr><td "
                 "class=\"data\">\\_SB.PC00.XHCI</td><td class=\"data\"></td></tr></table>"));
    EXPECT_TRUE(Contains(html,
                         "<tr><td class=\"data\">HDAudBus</td><td "
                         "class=\"data\">PCI\\A&amp;B&lt;C&gt;</td></tr></table></div>"));
}

TEST(BuildSystemInfoSection, SixRowsFromTheIdentity)
{
    SystemInfo system;
    system.CpuFamily = 6;
    system.CpuModel = 140;
    system.CpuStepping = 1;
    system.BiosVendor = "Brindle & Sons";
    system.BiosVersion = "QX.1.02";
    system.BiosReleaseDate = "02/11/2026";
    system.OsBuild = "22621";
    const std::string html = BuildSystemInfoSection(BuildSystemInfoRows(system));
    EXPECT_EQ(html.rfind("<article><div class=\"wrapper1\"><section><div class=\"sysinfoentry\">"
                         "<table>",
                         0),
              0u);
    EXPECT_TRUE(Contains(html,
                         "<td class=\"data\">Brindle &amp; Sons</td></tr><tr><td "
                         "class=\"title\">BIOS Version</td><td class=\"data\">QX.1.02</td>"
                         "</tr><tr><td class=\"title\">BIOS Date</td><td class=\"data\">"
                         "02/11/2026</td></tr><tr><td class=\"title\">S0 Idle</td><td "
                         "class=\"data\">Not-Supported</td></tr><tr><td class=\"title\">OS "
                         "Version</td><td class=\"data\">22621</td></tr></table>"));
    system.AoAc = true;
    EXPECT_EQ(BuildSystemInfoRows(system)[4].Value, "Supported");
}

TEST(BuildRuleMatchList, RulesDevicesAndPlaceholders)
{
    Rule audio;
    audio.Class = "audio";
    audio.Regex = "HDAUDIO.*";
    audio.RuleType = "always";
    audio.PlatformStateCount = 1;  // every entry is shown, whatever the count says
    audio.PlatformStates = {{0, "3", "0"}, {1, "3", "1"}};
    Rule bare = audio;
    bare.PlatformStates.clear();
    bare.Regex = "a<b";

    PoFxDeviceRundown pofx{0, "\\_SB.PC00.HDAS", "PCI\\A", "HDAudBus"};
    PepDeviceRundown pep{"0x1", "\\_SB.PC00.HDAS", 1, {3, 0, 0}};
    PepComponentRundown component{"0x1", "\\_SB.PC00.HDAS", 1, {0, 0, 0}};
    PepDeviceRundown uncounted{"0x2", "\\_SB.PC00.THC0", 0, {3, 0, 0}};
    PepComponentRundown lone{"0x3", "\\_SB.PC00.SPI0", 1, {0, 0, 0}};
    DeviceMatch full{&component, &pep, &pofx};
    DeviceMatch pepOnly{&component, &uncounted, nullptr};
    DeviceMatch componentOnly{&lone, nullptr, nullptr};
    DeviceMatch noComponent{nullptr, &pep, nullptr};
    PoDeviceEntry po{"0x1", "HDAUDIO\\FUNC_01", "HDAudBus"};

    EXPECT_EQ(DeviceMatchText(noComponent),
              "\\_SB.PC00.HDAS, &lt;no-PoFx-DeviceRundown&gt;, [[D:3]]");

    ConstraintAnalysis analysis;
    analysis.CdrList.push_back(Cdr{&audio, {&full}, {&po}});
    analysis.CdrList.push_back(Cdr{&bare, {}, {}});
    analysis.CdrList.push_back(Cdr{nullptr, {&pepOnly, &componentOnly}, {}});
    EXPECT_EQ(BuildRuleMatchList(analysis),
              "<ul><li class=\"rule\">audio, HDAUDIO.*, , always, [ [3, 0] [3, 1] ]</li><ul><li "
              "class=\"rm-cdr\">\\_SB.PC00.HDAS, HDAudBus[[D:3, F:0]]</li><li "
              "class=\"rm-podr\">HDAudBus : HDAUDIO\\FUNC_01</li></ul></ul>"
              "<ul><li class=\"rule\">audio, a&lt;b, , always, [ ]</li><ul><li "
              "class=\"rm-cdr\">&lt;no-cdr-match&gt;</li><li "
              "class=\"rm-podr\">&lt;no-po-match&gt;</li></ul></ul>"
              "<ul><li class=\"rule\">&lt;nil&gt;</li><ul><li class=\"rm-cdr\">\\_SB.PC00.THC0, "
              "&lt;no-PoFx-DeviceRundown&gt;, []</li><li class=\"rm-cdr\">\\_SB.PC00.SPI0, "
              "&lt;no-PoFx-DeviceRundown&gt;, , &lt;no-Pep-DeviceRundown&gt;, </li><li "
              "class=\"rm-podr\">&lt;no-po-match&gt;</li></ul></ul>");
}

}  // namespace
}  // namespace dormex
