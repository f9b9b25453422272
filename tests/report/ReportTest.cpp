#include <gtest/gtest.h>

#include "TestPlatform.h"
#include "analysis/ConstraintAnalysis.h"
#include "lpit/Lpit.h"
#include "report/ErrorTemplates.h"
#include "report/ReportDocument.h"
#include "report/MachineSections.h"
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

TEST(BuildReport, FrameAndSectionsInOrder)
{
    Report report;
    report.analysis.CdrList.emplace_back();
    std::string page = report.Build();
    const std::string start =
        "<!DOCTYPE html><html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset "
        "= utf-8 /\"><style>body{padding:1em;background:#465e67;}h1{text-align:center;";
    EXPECT_EQ(page.rfind(start, 0), 0u);
    EXPECT_TRUE(Contains(page, "h4 {font-family:arial;color:#808080;margin:1em 1em 1em 2em;}</style>"
                               "</head><body> <div class=\"wrapper0\"> <article><h1>Corva Dormex"
                               "<span class=\"version\">(v2.2.0.2)</span></h1></article><article>"
                               "<div class=\"wrapper1\"><section><div class=\"sysinfoentry\">"));
    EXPECT_TRUE(Contains(page, "<article><div class=\"wrapper1\"><div class=\"errsFound\"> No Errors "
                               "Found</div></div></article><article><div class=\"wrapper1\"><div "
                               "class=\"err\"><input id=\"rmdump\" type=\"checkbox\" /><label "
                               "for=\"rmdump\">expand</label><h4>Tool internal state data</h4><div "
                               "class=\"err_desc\"><h3>LPIT Information</h3>"));
    const std::string end = "<div class=\"rulematches\"><h3>Rule Matches</h3><ul><li "
                            "class=\"rule\">&lt;nil&gt;</li><ul><li "
                            "class=\"rm-cdr\">&lt;no-cdr-match&gt;</li><li "
                            "class=\"rm-podr\">&lt;no-po-match&gt;</li></ul></ul></div></div></div>"
                            "</article></div></body></html>";
    EXPECT_EQ(page.substr(page.size() - end.size()), end);
    EXPECT_EQ(page.find('\n'), std::string::npos);
    EXPECT_EQ(report.capture.Text(),
              "\nINFORMATION:: System Information\nINFORMATION:: Adding Errors to Report"
              "\nINFORMATION:: \nINFORMATION:: Dumping Number of Errors in report"
              "\nINFORMATION:: Dumping actual Errors\nINFORMATION:: Dumping LPIT"
              "\nINFORMATION:: Printing LPIT table header!!"
              "\nINFORMATION:: Adding Rundowns to Report");
}

TEST(BuildReport, ErrorsFollowTheSummaryNewestFirst)
{
    Report report;
    report.analysis.CdrList.emplace_back();
    PepDeviceRundown pep{"0x1", "\\_SB.PC00.THC0", 1, {3, 0, 0}};
    DeviceMatch match{nullptr, &pep, nullptr};
    report.errors.AddError(ConstraintWithoutPofx, nullptr, &match, nullptr, report.capture.Log);
    report.errors.AddError(UnexpectedConstraint, nullptr, &match, nullptr, report.capture.Log);
    std::string page = report.Build();
    size_t summary = page.find("Found <span style=\"color:red\">2</span> issue(s)</div>");
    size_t four = page.find("constraint not expected </div>");
    size_t zero = page.find("constraint found but driver did not register with PoFx");
    ASSERT_NE(summary, std::string::npos);
    EXPECT_LT(summary, four);
    EXPECT_LT(four, zero);
    EXPECT_TRUE(Contains(page, "id=\"err0\""));
    EXPECT_TRUE(Contains(page, "id = \"err1\""));
}

TEST(WriteReport, ReplacesAnOldReportAndFailsWhereItCannotWrite)
{
    Report report;
    report.analysis.CdrList.emplace_back();
    std::string path = report.capture.AddFile("VQT-Report.html", std::string(100000, 'x'));
    EXPECT_TRUE(WriteReport(path, report.Contents(), report.capture.Log, report.capture.Files));
    std::string written = test::ReadFile(path);
    EXPECT_EQ(written.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_EQ(written.size(), report.Build().size());

    std::string folder = (report.capture.Dir.Path() / "missing" / "VQT-Report.html").string();
    EXPECT_FALSE(WriteReport(folder, report.Contents(), report.capture.Log, report.capture.Files));
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
    EXPECT_TRUE(Contains(html,
                         "<table><tr><th class=\"header\">Handle</th><th class=\"header\">AcpiName</th>"
                         "<th class=\"header\">D-state/F-state Dependency</th></tr><tr><td "
                         "class=\"data\">0x1</td><td class=\"data\">\\_SB.PC00.HDAS</td><td "
                         "class=\"data\">[[D:3, F:0]]</td><tr><td class=\"data\">0x2</td><td "
                         "class=\"data\">\\_SB.PC00.I2C0</td><td class=\"data\">[]</td></table>"));
    EXPECT_TRUE(Contains(html, "<table><tr><th class=\"header\">DeviceId</th><th "
                               "class=\"header\">Service Name</th></tr><tr><td "
                               "class=\"data\">\\_SB.PC00.XHCI</td><td class=\"data\"></td></tr></table>"));
    EXPECT_TRUE(Contains(html, "<tr><td class=\"data\">HDAudBus</td><td "
                               "class=\"data\">PCI\\A&amp;B&lt;C&gt;</td></tr></table></div>"));
}

LpitTable Lpit(size_t descriptors)
{
    LpitTable table;
    table.Signature = {'L', 'P', 'I', 'T'};
    table.Length = 148;
    table.Revision = 1;
    table.Checksum = 0x4f;
    table.OemId = {'A', 'B', 'C', ' ', ' ', ' '};
    table.OemTableId = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'};
    table.OemRevision = 2;
    table.CreatorId = {'T', 'N', 'W', 'K'};
    table.CreatorRevision = 0x10013;
    for (size_t i = 0; i < descriptors; ++i) {
        LpitDescriptor descriptor;
        descriptor.Flags = static_cast<uint32_t>(i);
        descriptor.EntryTrigger = {0x7f, 64, 0, 4, 0x632};
        descriptor.Residency = 30000;
        descriptor.Latency = 3000;
        descriptor.ResidencyCounter = {0, 64, 0, 4, 0xABCD00000600};
        descriptor.ResidencyCounterFrequency = 19200000;
        table.Descriptors.push_back(descriptor);
    }
    table.DescriptorCount = static_cast<int32_t>(descriptors);
    return table;
}

TEST(BuildLpitSection, DescriptorTablesBeforeTheHeaderTable)
{
    test::LogCapture capture;
    std::string html = BuildLpitSection(Lpit(3), "", capture.Log);
    const std::string descriptor0 =
        "<div class=\"lpit\"><table><tr><th class=\"header\" colspan=\"2\">LPIT Descriptor "
        "0</th><tr><td class=\"title\">Flags</td><td class=\"data\">0x0</td></tr><tr><td "
        "class=\"title\">Entry Trigger</td><td class=\"data\">0x7f, 64, 0, 0x4, 0x632</td></tr><tr><td "
        "class=\"title\">Residency(ms)</td><td class=\"data\">30000</td></tr><tr><td "
        "class=\"title\">Latency(ms)</td><td class=\"data\">3000</td></tr><tr><td class=\"title\">Res "
        "Ctr</td><td class=\"data\">0x0, 64, 0, 0x4, 0xabcd00000600</td></tr><tr><td "
        "class=\"title\">Ctr Freq</td><td class=\"data\">19200000</td></tr></table></div>";
    EXPECT_EQ(html.rfind("<h3>LPIT Information</h3>" + descriptor0, 0), 0u);
    size_t second = html.find("LPIT Descriptor 1");
    size_t third = html.find("LPIT Descriptor 2");
    size_t header = html.find("<div class=\"lpitH\">");
    EXPECT_LT(second, third);
    EXPECT_LT(third, header);
    EXPECT_EQ(html.substr(header),
              "<div class=\"lpitH\"><table><tr><th class=\"header\" colspan=\"2\">LPIT Header</th>"
              "<tr><td class=\"title\">Signature</td><td class=\"data\">LPIT</td></tr>"
              "<tr><td class=\"title\">Length (bytes)</td><td class=\"data\">148</td></tr>"
              "<tr><td class=\"title\">Revision</td><td class=\"data\">1</td></tr>"
              "<tr><td class=\"title\">Checksum</td><td class=\"data\">0x4f</td></tr>"
              "<tr><td class=\"title\">OEM Id</td><td class=\"data\">ABC   </td></tr>"
              "<tr><td class=\"title\">OEM Table Id</td><td class=\"data\">ABCDEFGH</td></tr>"
              "<tr><td class=\"title\">OEM Revision</td><td class=\"data\">2</td></tr>"
              "<tr><td class=\"title\">Creator Id</td><td class=\"data\">TNWK</td></tr>"
              "<tr><td class=\"title\">Creator Revision</td><td class=\"data\">0x10013</td></tr>"
              "</table></div>");
    EXPECT_EQ(capture.Text(),
              "\nINFORMATION:: Printing LPIT descriptor!!\nINFORMATION:: Printing LPIT descriptor!!"
              "\nINFORMATION:: Printing LPIT descriptor!!\nINFORMATION:: Printing LPIT table header!!");

    test::LogCapture missing;
    EXPECT_EQ(BuildLpitSection(Lpit(2), "LPIT cannot be retrived.", missing.Log),
              "<h3>LPIT Information</h3>LPIT cannot be retrived.");
    EXPECT_EQ(missing.Text(), "");
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
    EXPECT_EQ(BuildSystemInfoSection(BuildSystemInfoRows(system)),
              "<article><div class=\"wrapper1\"><section><div class=\"sysinfoentry\"><table>"
              "<tr><td class=\"title\">F/M/S</td><td class=\"data\">Family 6 Model 140 Stepping "
              "1</td></tr><tr><td class=\"title\">BIOS Vendor</td><td class=\"data\">Brindle &amp; "
              "Sons</td></tr><tr><td class=\"title\">BIOS Version</td><td "
              "class=\"data\">QX.1.02</td></tr><tr><td class=\"title\">BIOS Date</td><td "
              "class=\"data\">02/11/2026</td></tr><tr><td class=\"title\">S0 Idle</td><td "
              "class=\"data\">Not-Supported</td></tr><tr><td class=\"title\">OS Version</td><td "
              "class=\"data\">22621</td></tr></table></div></section></div></article>");
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
    DeviceMatch registeredOnly{nullptr, nullptr, &pofx};
    DeviceMatch pepOnly{&component, &uncounted, nullptr};
    DeviceMatch componentOnly{&lone, nullptr, nullptr};
    DeviceMatch noComponent{nullptr, &pep, nullptr};
    PoDeviceEntry po{"0x1", "HDAUDIO\\FUNC_01", "HDAudBus"};

    EXPECT_EQ(DeviceMatchText(full), "\\_SB.PC00.HDAS, HDAudBus[[D:3, F:0]]");
    EXPECT_EQ(DeviceMatchText(registeredOnly),
              "\\_SB.PC00.HDAS, HDAudBus, &lt;no-Pep-DeviceRundown&gt;, ");
    EXPECT_EQ(DeviceMatchText(pepOnly), "\\_SB.PC00.THC0, &lt;no-PoFx-DeviceRundown&gt;, []");
    EXPECT_EQ(DeviceMatchText(componentOnly),
              "\\_SB.PC00.SPI0, &lt;no-PoFx-DeviceRundown&gt;, , &lt;no-Pep-DeviceRundown&gt;, ");
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
