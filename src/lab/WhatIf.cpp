#include "lab/WhatIf.h"

#include <random>
#include <set>
#include <system_error>

#include "lab/CaptureFiles.h"

namespace dormex {

namespace fs = std::filesystem;

namespace {

// A folder below the system's temporary folder, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder()
    {
        std::random_device random;
        path_ = fs::temp_directory_path() /
                ("dormex-what-if-" + std::to_string(random()) + "-" + std::to_string(random()));
        fs::create_directories(path_);
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

std::string Ending(const RunRecord& run)
{
    return run.Stop ? "stops (" + *run.Stop + ")" : "completes";
}

}  // namespace

std::vector<std::string> RuleChangeLines(const RunRecord& before, const RunRecord& after)
{
    std::vector<std::string> lines;
    if (before.Stop != after.Stop) {
        lines.push_back("the run " + Ending(before) + " with the old rules and " + Ending(after) +
                        " with the new");
    }
    // Whole findings, not the diff's keys: a rule change may keep the device
    // and rule of a finding and change the states it expects.
    std::multiset<std::string> kept;
    for (const ComparedFinding& finding : before.Findings) {
        kept.insert(finding.Finding.dump());
    }
    std::vector<std::string> gone;
    for (const ComparedFinding& finding : after.Findings) {
        if (auto found = kept.find(finding.Finding.dump()); found != kept.end()) {
            kept.erase(found);
        } else {
            lines.push_back("appears     " + FindingLine(finding.Finding));
        }
    }
    for (const ComparedFinding& finding : before.Findings) {
        if (auto found = kept.find(finding.Finding.dump()); found != kept.end()) {
            kept.erase(found);
            lines.push_back("disappears  " + FindingLine(finding.Finding));
        }
    }
    return lines;
}

WhatIfReport RunWhatIf(const std::vector<Capture>& captures, LabRunOptions options,
                       const fs::path& before, const fs::path& after, FileSystem& files)
{
    const ScratchFolder scratch;
    options.Force = true;
    const auto ignore = [](const Capture&, const CaptureOutcome&) {};
    options.Rules = before;
    options.Output = scratch.Path() / "old";
    const std::vector<CaptureOutcome> old = RunLab(captures, options, files, ignore);
    options.Rules = after;
    options.Output = scratch.Path() / "new";
    const std::vector<CaptureOutcome> changed = RunLab(captures, options, files, ignore);

    WhatIfReport report;
    for (size_t i = 0; i < captures.size(); ++i) {
        const Capture& capture = captures[i];
        std::string fault;
        for (const CaptureOutcome* outcome : {&old[i], &changed[i]}) {
            if (fault.empty() && outcome->Result != CaptureOutcome::Kind::Done) {
                fault = outcome->Message;
            }
        }
        std::vector<std::string> lines;
        if (fault.empty()) {
            const fs::path results = PathOfUtf8(capture.Relative) / LabResultsFileName;
            auto first = ReadRunRecord(scratch.Path() / "old" / results);
            auto second = ReadRunRecord(scratch.Path() / "new" / results);
            if (auto* unread = std::get_if<std::string>(&first)) {
                fault = *unread;
            } else if (auto* unread = std::get_if<std::string>(&second)) {
                fault = *unread;
            } else {
                lines = RuleChangeLines(std::get<RunRecord>(first), std::get<RunRecord>(second));
                report.Altered += !lines.empty();
            }
        }
        if (!fault.empty()) {
            ++report.Uncompared;
            lines = {"cannot be compared: " + fault};
        }
        if (!lines.empty()) {
            report.Text += capture.Name + "\n";
            for (const std::string& line : lines) {
                report.Text += "  " + line + "\n";
            }
        }
    }
    report.Text += "dormex-lab: the change alters the findings of " +
                   std::to_string(report.Altered) + " of " + std::to_string(captures.size()) +
                   (captures.size() == 1 ? " machine" : " machines");
    if (report.Uncompared > 0) {
        report.Text += "; " + std::to_string(report.Uncompared) + " could not be compared";
    }
    report.Text += "\n";
    return report;
}

}  // namespace dormex
