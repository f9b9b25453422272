#include "report/ReportDocument.h"

#include <fstream>

#include "log/DebugLog.h"
#include "platform/FileSystem.h"
#include "report/ErrorTemplates.h"
#include "report/HtmlFragments.h"
#include "report/MachineSections.h"
#include "report/RuleMatchList.h"
#include "report/RundownSection.h"

namespace dormex {

std::string BuildReport(const ReportContents& contents, DebugLog& log)
{
    std::string page;
    page += html::DocumentStart;
    page += html::HeadStart;
    page += html::StyleSheet;
    page += html::HeadEnd;
    page += html::BodyStart;

    // The outer wrapper stays open until the end of the page.
    page += html::OuterWrapper;
    page += html::ArticleStart;
    page += html::H1Start;
    page += html::ReportTitle;
    page += html::VersionSpan;
    page += html::H1End;
    page += html::ArticleEnd;

    log.WriteLog(INFORMATION, "System Information", 0);
    page += BuildSystemInfoSection(BuildSystemInfoRows(contents.System));

    log.WriteLog(INFORMATION, "Adding Errors to Report", 0);
    page += html::ArticleStart;
    page += html::InnerWrapper;
    page += html::ErrorSummaryBlock;
    page += ErrorSummaryText(contents.Errors);
    page += html::BlockEnd;
    log.WriteLog(INFORMATION, "", 0);
    log.WriteLog(INFORMATION, "Dumping Number of Errors in report", 0);
    for (const ReportError& error : contents.Errors.ErrorList) {
        page += RenderError(contents.Errors, error, contents.Devices, log);
    }
    page += html::BlockEnd;
    log.WriteLog(INFORMATION, "Dumping actual Errors", 0);
    page += html::ArticleEnd;

    // The collapsed internal-state card: LPIT, rundowns and rule matches.
    log.WriteLog(INFORMATION, "Dumping LPIT", 0);
    page += html::ArticleStart;
    page += html::InnerWrapper;
    page += html::ErrorBlock;
    page += html::ExpanderBox;
    page += html::ExpanderLabel;
    page += html::H4Start;
    page += html::InternalStateTitle;
    page += html::H4End;
    page += html::CollapsiblePart;
    page += BuildLpitSection(contents.Lpit, contents.LpitStatusText, log);
    log.WriteLog(INFORMATION, "Adding Rundowns to Report", 0);
    page += BuildRundownSection(contents.Rundowns);
    page += html::RuleMatchBlock;
    page += html::H3Start;
    page += html::RuleMatchesTitle;
    page += html::H3End;
    page += BuildRuleMatchList(contents.Analysis);
    page += html::BlockEnd;

    page += html::BlockEnd;   // the collapsible part
    page += html::BlockEnd;   // the block
    page += html::ArticleEnd;  // the article and its inner wrapper
    page += html::BlockEnd;   // the outer wrapper
    page += html::BodyEnd;
    page += html::DocumentEnd;
    return page;
}

bool WriteReport(std::string path, const ReportContents& contents, DebugLog& log, FileSystem& files)
{
    std::string page = BuildReport(contents, log);
    std::ofstream file(files.NativePath(path), std::ios::out | std::ios::trunc);
    if (!file.is_open()) {
        return false;
    }
    file << page;
    file.close();
    return !file.fail();
}

}  // namespace dormex
