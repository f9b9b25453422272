#include "lab/LabRun.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/Launch.h"
#include "app/OutputPaths.h"
#include "lab/CaptureFiles.h"
#include "platform/replay/ReplayMachine.h"
#include "platform/snapshot/MachineSnapshot.h"
#include "report/ReportDocument.h"

namespace dormex {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// The run's request to stop once its time is up; it stays requested.
class TimeLimit final : public Interruption {
public:
    explicit TimeLimit(Clock::duration limit) : deadline_(Clock::now() + limit) {}
    bool Requested() override
    {
        reached_ = reached_ || Clock::now() >= deadline_;
        return reached_;
    }
    void Sleep(uint32_t) override {}
    bool Reached() const { return reached_; }

private:
    Clock::time_point deadline_;
    bool reached_ = false;
};

// Keeps what the run says about its own files (a results file it could not
// write) and drops its fixed console text.
class ErrorConsole final : public Console {
public:
    void Write(std::string_view) override {}
    bool ReadChar(char*) override { return false; }
    void WriteError(std::string_view text) override { errors_.append(text); }
    const std::string& Errors() const { return errors_; }

private:
    std::string errors_;
};

// The files a run leaves in its folder; the results last, as their presence
// marks the capture done.
std::vector<std::string> OutputNames()
{
    return {std::string(ReportFilePrefix) + ReportFileExtension, DebugLogFileName,
            LabResultsFileName};
}

void RemoveOutputs(const fs::path& folder)
{
    std::vector<std::string> names = OutputNames();
    std::reverse(names.begin(), names.end());
    for (const std::string& name : names) {
        std::error_code ignored;
        fs::remove(folder / name, ignored);
    }
}

// Whatever a run left under a partial name: its outputs when it did not
// end well, and the trace file a failed trace leaves behind.
void RemovePartialFiles(const fs::path& folder)
{
    std::error_code error;
    std::vector<fs::path> partial;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->path().extension() == PartialSuffix) {
            partial.push_back(entry->path());
        }
    }
    for (const fs::path& file : partial) {
        fs::remove(file, error);
    }
}

std::string Seconds(std::chrono::milliseconds time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(time.count()) / 1000);
    return text;
}

}  // namespace

CaptureOutcome RunCapture(const Capture& capture, const LabRunOptions& options, FileSystem& files)
{
    using Kind = CaptureOutcome::Kind;
    const fs::path folder =
        fs::absolute(options.Output / PathOfUtf8(capture.Relative)).lexically_normal();
    const fs::path results = folder / LabResultsFileName;
    if (!options.Force && IsUpToDate(results, capture.File, options.Rules)) {
        return {Kind::UpToDate, {}};
    }
    std::error_code error;
    fs::create_directories(folder, error);
    if (error || !fs::is_directory(folder)) {
        return {Kind::Failed, "cannot make the folder " + Utf8Path(folder) +
                                  (error ? ": " + error.message() : "")};
    }
    // The old results go first: from here on the capture counts as not run.
    RemoveOutputs(folder);
    RemovePartialFiles(folder);

    auto loaded = LoadMachineSnapshot(Utf8Path(capture.File));
    if (auto* fault = std::get_if<std::string>(&loaded)) {
        fs::remove(folder, error);  // when it holds nothing else
        return {Kind::Failed, *fault};
    }
    CaptureFiles runFiles(files, Utf8Path(folder),
                          Utf8Path(fs::absolute(options.Rules).lexically_normal()));
    TimeLimit timeLimit(options.TimeLimit);
    ErrorConsole console;
    {
        ReplayMachine machine(std::get<MachineSnapshot>(std::move(loaded)), runFiles);
        RunOnPlatform(machine.PlatformWith(console, timeLimit), {}, capture.Name);
    }
    if (timeLimit.Reached()) {
        RemovePartialFiles(folder);
        return {Kind::Stopped, "ran past the time limit of " + Seconds(options.TimeLimit)};
    }
    if (!fs::is_regular_file(folder / (std::string(LabResultsFileName) + PartialSuffix))) {
        RemovePartialFiles(folder);
        std::string message = console.Errors();
        message.erase(message.find_last_not_of('\n') + 1);
        return {Kind::Failed, message.empty() ? "the run wrote no results" : message};
    }
    for (const std::string& name : OutputNames()) {
        const fs::path written = folder / (name + PartialSuffix);
        if (fs::exists(written, error)) {
            fs::rename(written, folder / name, error);
            if (error) {
                RemovePartialFiles(folder);
                return {Kind::Failed,
                        "cannot rename " + Utf8Path(written) + ": " + error.message()};
            }
        }
    }
    RemovePartialFiles(folder);
    return {Kind::Done, {}};
}

std::vector<CaptureOutcome> RunLab(
    const std::vector<Capture>& captures, const LabRunOptions& options, FileSystem& files,
    const std::function<void(const Capture&, const CaptureOutcome&)>& finished)
{
    std::vector<CaptureOutcome> outcomes(captures.size());
    std::atomic<size_t> next{0};
    std::mutex reporting;
    auto work = [&] {
        for (size_t index = next++; index < captures.size(); index = next++) {
            CaptureOutcome outcome;
            try {
                outcome = RunCapture(captures[index], options, files);
            } catch (const std::exception& failure) {
                // Whatever one capture does, the others go on.
                outcome = {CaptureOutcome::Kind::Failed, failure.what()};
            }
            std::lock_guard lock(reporting);
            outcomes[index] = std::move(outcome);
            finished(captures[index], outcomes[index]);
        }
    };
    {
        std::vector<std::jthread> workers;
        const size_t count =
            std::clamp<size_t>(options.Jobs, 1, std::max<size_t>(captures.size(), 1));
        for (size_t i = 1; i < count; ++i) {
            workers.emplace_back(work);
        }
        work();
    }
    return outcomes;
}

}  // namespace dormex
