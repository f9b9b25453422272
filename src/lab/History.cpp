#include "lab/History.h"

#include <algorithm>
#include <map>
#include <set>

#include "common/Text.h"
#include "lab/Library.h"

namespace dormex {

namespace {

// One finding through a machine's runs.
struct Course {
    std::string Line;             // as the run where it was first seen has it
    std::vector<size_t> Present;  // the completed runs (from 1) that have it
};

std::string RunLine(size_t number, const RunRecord& run)
{
    std::string line = "  run " + std::to_string(number) + "  " + run.Time + "  BIOS " +
                       run.BiosVersion + "  OS " + run.OsBuild + "  " + Utf8Path(run.File);
    if (run.Stop) {
        line += "  (stopped: " + *run.Stop + ")";
    }
    return line + "\n";
}

// "first seen in run 2, fixed in run 3, back in run 5"; "(open)" when the
// latest completed run still has it.
std::string CourseText(const Course& course, const std::vector<size_t>& completed)
{
    std::string text = "first seen in run " + std::to_string(course.Present.front());
    bool present = true;
    for (size_t number : completed) {
        if (number <= course.Present.front()) {
            continue;
        }
        const bool has = std::binary_search(course.Present.begin(), course.Present.end(), number);
        if (has != present) {
            text += (has ? ", back in run " : ", fixed in run ") + std::to_string(number);
            present = has;
        }
    }
    return text + (present ? " (open)" : "");
}

}  // namespace

History BuildHistory(std::vector<RunRecord> runs, HistoryOrder order)
{
    std::map<std::string, std::vector<RunRecord*>> machines;
    for (RunRecord& run : runs) {
        machines[MachineName(run)].push_back(&run);
    }
    History history;
    for (auto& [machine, list] : machines) {
        std::stable_sort(list.begin(), list.end(), [&](const RunRecord* a, const RunRecord* b) {
            if (order == HistoryOrder::Bios && a->BiosVersion != b->BiosVersion) {
                return NaturalLess(a->BiosVersion, b->BiosVersion);
            }
            return a->Time < b->Time;
        });
        history.Text += machine + ": " + std::to_string(list.size()) +
                        (list.size() == 1 ? " run\n" : " runs\n");
        std::vector<size_t> completed;
        std::map<std::string, Course> courses;
        std::vector<std::string> keys;  // in the order first seen
        for (size_t i = 0; i < list.size(); ++i) {
            const RunRecord& run = *list[i];
            const size_t number = i + 1;
            history.Text += RunLine(number, run);
            if (run.Stop) {
                continue;
            }
            completed.push_back(number);
            for (const ComparedFinding& finding : run.Findings) {
                auto [course, added] = courses.try_emplace(finding.Key);
                if (added) {
                    course->second.Line = FindingLine(finding.Finding);
                    keys.push_back(finding.Key);
                }
                if (course->second.Present.empty() || course->second.Present.back() != number) {
                    course->second.Present.push_back(number);
                }
            }
        }
        for (const std::string& key : keys) {
            const Course& course = courses[key];
            history.Text += "  " + course.Line + "\n    " + CourseText(course, completed) + "\n";
        }
        // What the latest completed run has that the one before it lacked.
        if (completed.size() >= 2) {
            const size_t latest = completed.back();
            const size_t previous = completed[completed.size() - 2];
            for (const std::string& key : keys) {
                const std::vector<size_t>& present = courses[key].Present;
                if (present.back() == latest &&
                    !std::binary_search(present.begin(), present.end(), previous)) {
                    history.NewInLatest.push_back(machine + ": " + courses[key].Line);
                }
            }
        }
    }
    return history;
}

}  // namespace dormex
