#include "report/ReportDocument.h"

#include <fstream>

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
std::string ErrorCard(const ReportContents& contents, DebugLog& log)
{
    log.WriteLog(LogLevel::Information, "Adding Errors to Report", 0);
    std::string html(html::CardStart);
    html += "<div class=\"errsFound\"> ";
    html += ErrorSummaryText(contents.Errors);
    html += "</div>";
    log.WriteLog(LogLevel::Information, "", 0);
    log.WriteLog(LogLevel::Information, "Dumping Number of Errors in report", 0);
    for (const ReportError& error : contents.Errors.ErrorList) {
        html += RenderError(contents.Errors, error, contents.Devices, log);
    }
    html += "</div>";
    log.WriteLog(LogLevel::Information, "Dumping actual Errors", 0);
    html += "</article>";
    return html;
}

// The collapsed card with the tool's internal state: LPIT, rundowns and rule
// matches.
std::string InternalStateCard(const ReportContents& contents, DebugLog& log)
{
    log.WriteLog(LogLevel::Information, "Dumping LPIT", 0);
    std::string html(html::CardStart);
    html +=
        "<div class=\"err\"><input id=\"rmdump\" type=\"checkbox\" />"
        "<label for=\"rmdump\">expand</label><h4>Tool internal state data</h4>"
        "<div class=\"err_desc\">";
    html += BuildLpitSection(contents.Lpit, contents.LpitStatusText, log);
    log.WriteLog(LogLevel::Information, "Adding Rundowns to Report", 0);
    html += BuildRundownSection(contents.Rundowns);
    html += "<div class=\"rulematches\"><h3>Rule Matches</h3>";
    html += BuildRuleMatchList(contents.Analysis);
    html += "</div>";
    // The collapsible part and the block; the article's end tag also closes
    // the inner wrapper.
    html += "</div></div></article>";
    return html;
}

}  // namespace

std::string BuildReport(const ReportContents& contents, DebugLog& log)
{
    std::string page = PageStart();
    log.WriteLog(LogLevel::Information, "System Information", 0);
    page += BuildSystemInfoSection(BuildSystemInfoRows(contents.System));
    page += ErrorCard(contents, log);
    page += InternalStateCard(contents, log);
    page += "</div></body></html>";  // the outer wrapper
    return page;
}

bool WriteReport(std::string path, const ReportContents& contents, DebugLog& log, FileSystem& files)
{
    std::string page = BuildReport(contents, log);
    // A link planted where the report goes is removed, never written through.
    files.DeleteFileA(path);
    std::ofstream file(files.NativePath(path), std::ios::out | std::ios::trunc);
    if (!file.is_open()) {
        return false;
    }
    file << page;
    file.close();
    return !file.fail();
}

}  // namespace dormex
