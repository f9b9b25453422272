#include "report/ReportDocument.h"

#include <fstream>
#include <sstream>

#include "common/Version.h"
#include "log/DebugLog.h"
#include "platform/FileSystem.h"
#include "report/ErrorTemplates.h"
#include "report/HtmlFragments.h"
#include "report/MachineSections.h"
#include "report/RuleMatchList.h"
#include "report/RundownSection.h"

namespace dormex {

namespace {

// The head, the page title and the opening of the outer wrapper, which stays
// open until the end of the page.
std::string PageStart()
{
    std::string html =
        "<!DOCTYPE html><html><head><meta http-equiv=\"Content-Type\" "
        "content=\"text/html; charset = utf-8 /\"><style>";
    html += html::StyleSheet;
    html +=
        "</style></head><body> <div class=\"wrapper0\"> <article><h1>Corva Dormex"
        "<span class=\"version\">(v";
    html += DormexVersion;
    html += ")</span></h1></article>";
    return html;
}

// The card with the count of findings and one section per finding.
void WriteErrorCard(std::ostream& out, const ReportContents& contents, DebugLog& log)
{
    log.WriteLog(LogLevel::Information, "Adding Errors to Report", 0);
    out << html::CardStart << "<div class=\"errsFound\"> " << ErrorSummaryText(contents.Errors)
        << "</div>";
    log.WriteLog(LogLevel::Information, "", 0);
    log.WriteLog(LogLevel::Information, "Dumping Number of Errors in report", 0);
    for (const ReportError& error : contents.Errors.ErrorList) {
        out << RenderError(contents.Errors, error, contents.Devices, log);
    }
    out << "</div>";
    log.WriteLog(LogLevel::Information, "Dumping actual Errors", 0);
    out << "</article>";
}

// The collapsed card with the tool's internal state: LPIT, rundowns and rule
// matches.
void WriteInternalStateCard(std::ostream& out, const ReportContents& contents, DebugLog& log)
{
    log.WriteLog(LogLevel::Information, "Dumping LPIT", 0);
    out << html::CardStart
        << "<div class=\"err\"><input id=\"rmdump\" type=\"checkbox\" />"
           "<label for=\"rmdump\">expand</label><h4>Tool internal state data</h4>"
           "<div class=\"err_desc\">";
    out << BuildLpitSection(contents.Lpit, contents.LpitStatusText, log);
    log.WriteLog(LogLevel::Information, "Adding Rundowns to Report", 0);
    WriteRundownSection(out, contents.Rundowns);
    out << "<div class=\"rulematches\"><h3>Rule Matches</h3>";
    WriteRuleMatchList(out, contents.Analysis);
    // The rule matches, the collapsible part and the block; the article's end
    // tag also closes the inner wrapper.
    out << "</div></div></div></article>";
}

// The report, written into `out` a part at a time: a large machine's page is
// never held whole.
void WriteReportTo(std::ostream& out, const ReportContents& contents, DebugLog& log)
{
    out << PageStart();
    log.WriteLog(LogLevel::Information, "System Information", 0);
    out << BuildSystemInfoSection(BuildSystemInfoRows(contents.System));
    WriteErrorCard(out, contents, log);
    WriteInternalStateCard(out, contents, log);
    out << "</div></body></html>";  // the outer wrapper
}

}  // namespace

std::string BuildReport(const ReportContents& contents, DebugLog& log)
{
    std::ostringstream page;
    WriteReportTo(page, contents, log);
    return std::move(page).str();
}

bool WriteReport(std::string path, const ReportContents& contents, DebugLog& log, FileSystem& files)
{
    // A link planted where the report goes is removed, never written through.
    files.DeleteFileA(path);
    std::ofstream file(files.NativePath(path), std::ios::out | std::ios::trunc);
    if (!file.is_open()) {
        // The report is made all the same, so that the log says as much.
        std::ostream discarded(nullptr);
        WriteReportTo(discarded, contents, log);
        return false;
    }
    WriteReportTo(file, contents, log);
    file.close();
    return !file.fail();
}

}  // namespace dormex
