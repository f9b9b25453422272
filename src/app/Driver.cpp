#include "app/Driver.h"

#include <algorithm>
#include <functional>
#include <optional>

#include "analysis/Checks.h"
#include "analysis/ConstraintAnalysis.h"
#include "analysis/DeviceCorrelation.h"
#include "analysis/RuleMatching.h"
#include "app/OutputPaths.h"
#include "app/RunState.h"
#include "common/StatusCodes.h"
#include "devices/DeviceProperties.h"
#include "lpit/Lpit.h"
#include "platform/Platform.h"
#include "report/ReportDocument.h"
#include "rules/RuleParser.h"
#include "sysinfo/Administrator.h"
#include "sysinfo/RuleFileSelection.h"
#include "trace/PowerTraceSession.h"
#include "trace/TraceDecoding.h"

namespace dormex {

namespace {

struct CommandLine {
    bool Help = false;
    bool UseTestRuleFile = false;
};

CommandLine ParseCommandLine(const std::vector<std::string>& arguments)
{
    CommandLine commandLine;
    for (const std::string& argument : arguments) {
        if (argument == "/?") {
            commandLine.Help = true;
            break;
        }
        if (argument == "/t") {
            commandLine.UseTestRuleFile = true;
        }
    }
    return commandLine;
}

void ShowHelp(Console& console)
{
    console.Write(
        "\nTo use Dormex you can run without any options. "
        "\nAlthough, there are some options for running specific modes."
        "\n\n\tARGUMENTS: "
        "\n\t\t /?: dumps help information."
        "\n Press ANY key to continue..");
    char answer = 0;
    console.ReadChar(&answer);
}

// The three fills in their order, each only after the one before succeeded.
int32_t FillDeviceMap(RunState& state)
{
    DebugLog& log = state.Log;
    if (int32_t status = FillPoFxMap(state.Analysis, state.Rundowns, log); status != 0) {
        log.WriteLog(LogLevel::Error, "Cannot fill PoFx device Rundowns", status);
        return status;
    }
    if (int32_t status = FillPepDeviceMap(state.Analysis, state.Rundowns, log); status != 0) {
        log.WriteLog(LogLevel::Error, "Cannot fill PEP device Rundowns", status);
        return status;
    }
    if (int32_t status = FillPepComponentMap(state.Analysis, state.Rundowns, log); status != 0) {
        log.WriteLog(LogLevel::Error, "Cannot fill PEP component Rundowns", status);
        return status;
    }
    return 0;
}

// Each stage before the checks either lets the run go on (nullopt) or ends it
// with the exit status it gives.
using Stop = std::optional<int32_t>;

// The stop as the results name it; the message without the line feeds that
// lead it on the console.
void NoteStop(RunState& state, std::string name, int32_t code, const std::string& message)
{
    const size_t text = std::min(message.find_first_not_of('\n'), message.size());
    state.Outcome.Stop = RunStop{std::move(name), code, message.substr(text)};
}

// Ends the run with a USER_INFO line, which the console echoes.
int32_t StopWithUserInfo(RunState& state, std::string name, const std::string& message,
                         int32_t code)
{
    state.Log.WriteLog(LogLevel::UserInfo, message, code);
    NoteStop(state, std::move(name), code, message);
    return code;
}

// Ends the run with a console line that the log does not hold; exit status 0.
int32_t StopOnConsole(RunState& state, Console& console, std::string name,
                      const std::string& message)
{
    console.Write("\n" + message);
    NoteStop(state, std::move(name), 0, message);
    return 0;
}

// Opens the debug log in the output folder, which the user profile decides.
Stop OpenDebugLog(RunState& state, Platform& platform)
{
    DebugLog& log = state.Log;
    if (!ReadUserProfile(state.System, log, platform.files)) {
        return StopOnConsole(state, platform.console, "no-profile",
                             "Not able to get user profile value.");
    }
    const std::string logPath =
        OutputDirectory(state.System, platform.files) + "\\" + DebugLogFileName;
    platform.files.DeleteFileA(logPath);
    platform.console.Write("\nDebug file can be found at: " + logPath);
    state.LogFile.open(platform.files.NativePath(logPath), std::ios::out | std::ios::app);
    log.WriteTo(&state.LogFile);
    log.WriteLog(LogLevel::Information,
                 "-------------------------------------Debug File "
                 "Initialized------------------------------------",
                 0);
    return std::nullopt;
}

// Identifies the machine and makes sure the user may trace it.
Stop IdentifyMachine(RunState& state, Platform& platform)
{
    if (int32_t status = ReadSystemInfo(state.System, state.Log, platform); status != 0) {
        return StopWithUserInfo(
            state, "no-system-information",
            "\nNot able to access system information. Please restart the application.", status);
    }
    if (!IsAdministrator(platform.security)) {
        return StopWithUserInfo(state, "no-administrator",
                                "User does not have Administrator rights.  Run again from an "
                                "Administrator Command Prompt.",
                                0);
    }
    return std::nullopt;
}

// Whether the rule folder and the machine's own rule file are installed.
Stop FindRuleFile(const std::optional<RuleFolderChoice>& folder, const std::string& ruleFile,
                  RunState& state, Platform& platform)
{
    if (!folder) {
        return StopOnConsole(state, platform.console, "no-rule-folder",
                             "\"rules_for_soc\" folder not found.  Please check installation.");
    }
    if (!FileIsReadable(ruleFile, platform.files)) {
        DebugLog& log = state.Log;
        log.WriteLog(LogLevel::Information, "Config file:  " + ruleFile, 0);
        log.WriteLog(LogLevel::Information, " OS Build : " + state.System.OsBuild, 0);
        log.WriteLog(LogLevel::Information, "Os Version name: " + OsName(state.System), 0);
        return StopOnConsole(
            state, platform.console, "no-rule-file",
            "No config information is present for this system...use VQT Debug Log for "
            "debugging...");
    }
    return std::nullopt;
}

// Chooses the rule file; with the test switch the folder is not required.
Stop ChooseRuleFile(const CommandLine& commandLine, std::string& ruleFile, RunState& state,
                    Platform& platform)
{
    const std::optional<RuleFolderChoice> folder = FindRuleFolder(platform.files);
    if (folder && folder->BesideProgram) {
        state.Log.WriteLog(
            LogLevel::Information,
            "Rule folder: " + folder->Path + " (beside the program; the current folder has none)",
            0);
    }
    ruleFile = commandLine.UseTestRuleFile
                   ? TestRuleFilePathIn(folder)
                   : RuleFilePath(state.System, folder ? folder->Path : RuleFolder);
    state.Outcome.RuleFile = ruleFile;
    state.Outcome.UseTestRuleFile = commandLine.UseTestRuleFile;
    if (commandLine.UseTestRuleFile) {
        return std::nullopt;
    }
    return FindRuleFile(folder, ruleFile, state, platform);
}

// Records the power trace and reads it into the rundown lists.
Stop RecordPowerTrace(RunState& state, Platform& platform)
{
    DebugLog& log = state.Log;
    const std::string& profile = state.System.UserProfile;
    int32_t status = RunPowerTrace(profile, log, platform.traceController, platform.interruption,
                                   platform.files);
    if (status == 0) {
        status = ProcessPowerTrace(profile, state.Rundowns, log, platform.traceConsumer,
                                   platform.tdh, platform.interruption, platform.files);
    }
    if (status != 0) {
        return StopWithUserInfo(state, "trace-failed",
                                "\nSomething went wrong. Please restart application.", status);
    }
    return std::nullopt;
}

// An LPIT that cannot be read only shows in the report.
void ReadFirmwareIdleTable(RunState& state, Platform& platform)
{
    if (ReadLpit(state.Lpit, state.Log, platform.firmwareTables) != 0) {
        state.LpitStatusText = "LPIT cannot be retrived.";
    } else {
        state.Outcome.LpitRead = true;
    }
}

// Loads the rules and gathers what they are matched against.
Stop PrepareAnalysis(const std::string& ruleFile, RunState& state, Platform& platform)
{
    DebugLog& log = state.Log;
    if (int32_t status = LoadRuleFile(ruleFile, state.Rules, log, platform.files); status != 0) {
        return StopWithUserInfo(state, "rule-file-invalid",
                                "Cannot generate VQT report, cannot get xml parsed or validated.",
                                status);
    }
    CollectDeviceProperties(state.Rundowns.PoDeviceList, state.Devices, log,
                            platform.deviceManager);
    if (int32_t status = FillDeviceMap(state); status != 0) {
        return StopWithUserInfo(state, "device-map-failed",
                                "Cannot generate VQT report, cannot fill device rundowns.", status);
    }
    return std::nullopt;
}

// Matches the rules and runs the checks.
void Analyse(RunState& state, Platform& platform)
{
    MatchRules(state.Analysis, state.Rules, state.System, state.Rundowns, state.Devices, state.Log,
               platform.registry);
    RunChecks(state.Analysis, state.Rundowns, state.Devices, state.Errors, state.Log,
              platform.deviceIo);
}

// Writes the report.
Stop Report(RunState& state, Platform& platform)
{
    DebugLog& log = state.Log;
    std::string reportPath =
        ReportFilePath(ReportFilePrefix, ReportFileExtension, state.System, platform.files);
    ReportContents contents{state.System,         state.Errors,   state.Devices, state.Lpit,
                            state.LpitStatusText, state.Rundowns, state.Analysis};
    if (!WriteReport(reportPath, contents, log, platform.files)) {
        // A report that was never written is not announced.
        return StopWithUserInfo(state, "report-not-written",
                                "Cannot write VQT report here: " + reportPath, ErrorWriteFault);
    }
    log.WriteLog(LogLevel::UserInfo, "VQT report has been generated & stored here: " + reportPath,
                 0);
    return std::nullopt;
}

// A run the user interrupted ends before its next step; what it started is
// stopped and its scratch files are gone by then.
Stop StopIfInterrupted(RunState& state, Platform& platform)
{
    if (!platform.interruption.Requested()) {
        return std::nullopt;
    }
    return StopWithUserInfo(state, "interrupted",
                            "The run was interrupted (Ctrl+C, Ctrl+Break or the console window "
                            "closed); no report was written.",
                            AsStatus(ErrorCancelled));
}

// The run after the command line is read; returns the exit status.
int32_t RunPipeline(const CommandLine& commandLine, RunState& state, Platform& platform)
{
    std::string ruleFile;
    const std::function<Stop()> steps[] = {
        [&] { return OpenDebugLog(state, platform); },
        [&] { return IdentifyMachine(state, platform); },
        [&] { return ChooseRuleFile(commandLine, ruleFile, state, platform); },
        [&] {
            platform.console.Write("\nRunning checks...");
            return RecordPowerTrace(state, platform);
        },
        [&] {
            ReadFirmwareIdleTable(state, platform);
            return Stop();
        },
        [&] { return PrepareAnalysis(ruleFile, state, platform); },
        [&] {
            Analyse(state, platform);
            return Stop();
        },
        [&] { return Report(state, platform); },
    };
    for (const auto& step : steps) {
        state.Log.Flush();
        Stop stop = StopIfInterrupted(state, platform);
        if (!stop) {
            stop = step();
        }
        if (stop) {
            return *stop;
        }
    }
    return 0;
}

}  // namespace

int32_t RunDormex(const std::vector<std::string>& arguments, RunState& state, Platform& platform)
{
    CommandLine commandLine = ParseCommandLine(arguments);
    int32_t exitStatus = 0;
    if (commandLine.Help) {
        ShowHelp(platform.console);
    } else {
        exitStatus = RunPipeline(commandLine, state, platform);
    }
    state.Log.WriteLog(LogLevel::Information,
                       "---------------------Exiting Application-------------------------", 0);
    state.Log.Flush();
    return exitStatus;
}

}  // namespace dormex
