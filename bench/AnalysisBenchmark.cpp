// How the analysis and the whole replayed run grow with the machine. Not a
// test: run scripts/bench.sh and read the figures.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

#include <stdlib.h>

#include "SyntheticMachine.h"
#include "analysis/Checks.h"
#include "analysis/ConstraintAnalysis.h"
#include "analysis/DeviceCorrelation.h"
#include "analysis/RuleMatching.h"
#include "app/Driver.h"
#include "app/Launch.h"
#include "app/RunState.h"
#include "devices/DeviceProperties.h"
#include "platform/Console.h"
#include "platform/posix/PosixFileSystem.h"
#include "platform/replay/ReplayMachine.h"
#include "results/ResultsDiff.h"
#include "results/ResultsWriter.h"
#include "rules/RuleParser.h"
#include "trace/PowerTraceSession.h"
#include "trace/TraceDecoding.h"

namespace dormex::bench {
namespace {

namespace fs = std::filesystem;

// A folder with a profile, the rule file and the snapshot of one machine.
struct Workspace {
    fs::path dir;
    MachineSnapshot snapshot;

    Workspace(int devices, int rules)
    {
        std::random_device random;
        dir = fs::temp_directory_path() / ("dormex-bench-" + std::to_string(random()));
        fs::create_directories(dir / "profile" / "Desktop");
        fs::create_directories(dir / "rules_for_soc");
        SyntheticMachine machine = GenerateSyntheticMachine(devices, rules);
        std::ofstream(dir / "rules_for_soc" / "Family_6_Model_77_Microsoft_Windows_10.xml")
            << machine.RulesXml;
        std::ofstream(dir / "machine.json") << machine.SnapshotJson;
        snapshot = std::get<MachineSnapshot>(ParseMachineSnapshot(machine.SnapshotJson));
    }
    ~Workspace()
    {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    std::string Profile() const { return (dir / "profile").string(); }
};

// Everything the analysis reads, prepared as a run prepares it.
struct Prepared {
    PosixFileSystem files;
    NullConsole console;
    ReplayMachine machine;
    Platform platform;
    RunState state;

    explicit Prepared(const Workspace& workspace)
        : machine(workspace.snapshot, files),
          platform(machine.PlatformWith(console)),
          state(platform)
    {
        state.LogFile.open(workspace.Profile() + "/Desktop/VQT-Debug-Log.txt", std::ios::app);
        state.Log.WriteTo(&state.LogFile);
        state.System.OsBuild = "22631";
        RunPowerTrace(workspace.Profile(), state.Log, platform.traceController,
                      platform.interruption, files);
        ProcessPowerTrace(workspace.Profile(), state.Rundowns, state.Log, platform.traceConsumer,
                          platform.tdh, platform.interruption, files);
        LoadRuleFile(
            (workspace.dir / "rules_for_soc" / "Family_6_Model_77_Microsoft_Windows_10.xml")
                .string(),
            state.Rules, state.Log, files);
        CollectDeviceProperties(state.Rundowns.PoDeviceList, state.Devices, state.Log,
                                platform.deviceManager);
        FillPoFxMap(state.Analysis, state.Rundowns, state.Log);
        FillPepDeviceMap(state.Analysis, state.Rundowns, state.Log);
        FillPepComponentMap(state.Analysis, state.Rundowns, state.Log);
    }
};

void MatchRulesAndRunChecks(benchmark::State& bench)
{
    Workspace workspace(static_cast<int>(bench.range(0)), static_cast<int>(bench.range(1)));
    for (auto _ : bench) {
        bench.PauseTiming();
        auto prepared = std::make_unique<Prepared>(workspace);
        RunState& state = prepared->state;
        bench.ResumeTiming();
        MatchRules(state.Analysis, state.Rules, state.System, state.Rundowns, state.Devices,
                   state.Log, prepared->platform.registry);
        RunChecks(state.Analysis, state.Rundowns, state.Devices, state.Errors, state.Log,
                  prepared->platform.deviceIo);
        bench.PauseTiming();
        benchmark::DoNotOptimize(state.Errors.CriticalCount);
        prepared.reset();
        bench.ResumeTiming();
    }
}

// A whole run of a replayed machine: trace decoding, property collection,
// analysis, report and debug log. With a third argument of 1 the run also
// writes its results (DORMEX_RESULTS), and dormex-diff's work follows: the
// file read back, compared with itself and written as a Markdown table. With
// 2 the run records the machine it runs on (DORMEX_RECORD).
void FullReplayedRun(benchmark::State& bench)
{
    Workspace workspace(static_cast<int>(bench.range(0)), static_cast<int>(bench.range(1)));
    const bool results = bench.range(2) == 1;
    const bool recording = bench.range(2) == 2;
    const std::string resultsPath = (workspace.dir / "results.json").string();
    const std::string recordingPath = (workspace.dir / "recorded.json").string();
    const fs::path previous = fs::current_path();
    fs::current_path(workspace.dir);
    ::setenv("USERPROFILE", workspace.Profile().c_str(), 1);
    if (results) {
        ::setenv("DORMEX_RESULTS", resultsPath.c_str(), 1);
    }
    if (recording) {
        ::setenv("DORMEX_RECORD", recordingPath.c_str(), 1);
    }
    int32_t status = 0;
    size_t findings = 0;
    for (auto _ : bench) {
        PosixFileSystem files;
        NullConsole console;
        ReplayMachine machine(workspace.snapshot, files);
        status = RunOnPlatform(machine.PlatformWith(console), {}, "synthetic");
        if (results) {
            std::ostringstream text;
            text << std::ifstream(resultsPath).rdbuf();
            auto read = ReadComparedFindings(text.str());
            const auto& compared = std::get<std::vector<ComparedFinding>>(read);
            findings = compared.size();
            benchmark::DoNotOptimize(
                FormatDiff(DiffResults(compared, compared), DiffFormat::Markdown));
        }
    }
    ::unsetenv("DORMEX_RESULTS");
    ::unsetenv("DORMEX_RECORD");
    fs::current_path(previous);
    bench.counters["findings"] = static_cast<double>(findings);
    if (status != 0) {
        bench.SkipWithError("the run did not complete");
    }
}

// What the results add to a run on their own, measured apart from the run's
// noise: the document written from a completed run's records (phase 0), and
// dormex-diff's reading, comparison and Markdown table of it (phase 1).
void ResultsAndDiff(benchmark::State& bench)
{
    Workspace workspace(static_cast<int>(bench.range(0)), static_cast<int>(bench.range(1)));
    const fs::path previous = fs::current_path();
    fs::current_path(workspace.dir);
    ::setenv("USERPROFILE", workspace.Profile().c_str(), 1);
    PosixFileSystem files;
    NullConsole console;
    ReplayMachine machine(workspace.snapshot, files);
    Platform platform = machine.PlatformWith(console);
    RunState state(platform);
    RunDormex({}, state, platform);
    fs::current_path(previous);
    const ResultsContents contents{state.System,         state.Outcome,  state.Lpit,
                                   state.LpitStatusText, state.Rundowns, state.Errors,
                                   state.Devices,        "synthetic"};
    const std::string document = WriteResults(contents, "2026-01-01T00:00:00Z");
    for (auto _ : bench) {
        if (bench.range(2) == 0) {
            benchmark::DoNotOptimize(WriteResults(contents, "2026-01-01T00:00:00Z"));
        } else {
            auto read = ReadComparedFindings(document);
            const auto& compared = std::get<std::vector<ComparedFinding>>(read);
            benchmark::DoNotOptimize(
                FormatDiff(DiffResults(compared, compared), DiffFormat::Markdown));
        }
    }
    bench.counters["bytes"] = static_cast<double>(document.size());
}

BENCHMARK(ResultsAndDiff)
    ->Args({2000, 500, 0})
    ->Args({2000, 500, 1})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(FullReplayedRun)
    ->Args({2000, 500, 0})
    ->Args({2000, 500, 1})
    ->Args({2000, 500, 2})
    ->Args({4000, 500, 0})
    ->Args({4000, 500, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

BENCHMARK(MatchRulesAndRunChecks)
    ->Args({2000, 500})
    ->Args({4000, 500})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
}  // namespace dormex::bench

BENCHMARK_MAIN();
