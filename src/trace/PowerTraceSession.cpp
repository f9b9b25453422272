#include "trace/PowerTraceSession.h"

#include <optional>

#include "common/Bytes.h"
#include "common/Memory.h"
#include "common/StatusCodes.h"
#include "common/Text.h"
#include "log/DebugLog.h"
#include "platform/EventTraceController.h"
#include "platform/FileSystem.h"
#include "platform/Interruption.h"
#include "platform/TraceProviders.h"

namespace dormex {

namespace {

constexpr int32_t BadPath = AsStatus(ErrorPathNotFound);
constexpr uint8_t TraceLevelInformation = 4;
constexpr uint8_t TraceLevelVerbose = 5;

// The session between its start and its stop; the properties block lives as
// long as the session does.
struct PowerTraceSession {
    TraceHandle Handle = 0;
    std::optional<std::vector<uint8_t>> Properties;

    std::span<uint8_t> Block()
    {
        return Properties ? std::span<uint8_t>(*Properties) : std::span<uint8_t>();
    }
};

// A run that ended during the capture (a crash, a process killed) leaves its
// session running, and the name stays taken until it is stopped. A session of
// that name is a leftover: the program runs only while it holds the machine's
// run lock, so no other Dormex is using it.
uint32_t RestartLeftoverSession(const std::u16string& traceFile, PowerTraceSession& session,
                                DebugLog& log, EventTraceController& controller)
{
    uint32_t stopped =
        controller.ControlTraceW(0, TraceSessionName, session.Block(), EventTraceControlStop);
    if (stopped != 0 && stopped != ErrorMoreData) {
        log.WriteLog(LogLevel::Error,
                     "Cannot stop the trace session mytrace4 left by an earlier run",
                     AsStatus(stopped));
        return ErrorAlreadyExists;
    }
    log.WriteLog(LogLevel::Information,
                 "Stopped the trace session mytrace4 that an earlier run left running; starting "
                 "it again",
                 0);
    if (session.Properties) {
        *session.Properties = BuildTraceProperties(traceFile);  // the stop wrote into it
    }
    return controller.StartTraceW(&session.Handle, TraceSessionName, session.Block());
}

uint32_t StartPowerTraceSession(const std::string& directory, PowerTraceSession& session,
                                DebugLog& log, EventTraceController& controller)
{
    std::u16string traceFile = Utf8ToUtf16(TraceFilePath(directory));
    session.Properties = TryAllocate<uint8_t>(TracePropertiesSize);
    if (!session.Properties) {
        log.WriteLog(LogLevel::Error, "Cannot Allocate Memory for Trace Properties.", 0);
    } else {
        *session.Properties = BuildTraceProperties(traceFile);
    }
    uint32_t status = controller.StartTraceW(&session.Handle, TraceSessionName, session.Block());
    if (status == ErrorAlreadyExists) {
        status = RestartLeftoverSession(traceFile, session, log, controller);
    }
    if (status != 0) {
        log.WriteLog(LogLevel::Error, "Starting trace failed. ", AsStatus(status));
    }
    return status;
}

uint32_t EnablePowerProviders(const PowerTraceSession& session, DebugLog& log,
                              EventTraceController& controller, Interruption& interruption)
{
    struct EnableStep {
        const Guid& provider;
        uint32_t controlCode;
        uint8_t level;
        uint64_t matchAnyKeyword;
        const char* failure;
    };
    const EnableStep steps[] = {
        {KernelPowerProvider, ControlCodeEnableProvider, TraceLevelInformation, 0,
         "Enabling Trace for PoFx didnt complete  "},
        {KernelPowerProvider, ControlCodeCaptureState, TraceLevelInformation, 0,
         "Enabling Capture state for PoFx didnt complete  "},
        {KernelPepProvider, ControlCodeEnableProvider, TraceLevelVerbose, 1,
         "Enabling Trace for PEP didnt complete  "},
        {KernelPepProvider, ControlCodeCaptureState, TraceLevelVerbose, 1,
         "Enabling Capture state for PEP didnt complete."},
    };
    uint32_t failed = 0;
    for (const EnableStep& step : steps) {
        failed = controller.EnableTraceEx2(session.Handle, step.provider, step.controlCode,
                                           step.level, step.matchAnyKeyword, 0, 0);
        if (failed != 0) {
            log.WriteLog(LogLevel::Error, step.failure, AsStatus(failed));
            break;
        }
    }
    if (failed == 0) {
        // The providers write their rundowns while we wait; an interruption
        // ends the wait, and the session is stopped as after a full one.
        interruption.Sleep(5000);
    }
    if (session.Handle != 0) {
        controller.EnableTraceEx2(session.Handle, KernelPowerProvider, ControlCodeDisableProvider,
                                  TraceLevelInformation, 0, 0, 0);
        controller.EnableTraceEx2(session.Handle, KernelPepProvider, ControlCodeDisableProvider,
                                  TraceLevelInformation, 0, 0, 0);
    }
    return failed;
}

uint32_t StopPowerTraceSession(PowerTraceSession& session, DebugLog& log,
                               EventTraceController& controller)
{
    uint32_t status = controller.StopTraceW(session.Handle, TraceSessionName, session.Block());
    if (status == ErrorMoreData) {
        status = 0;  // the session is stopped; only its statistics did not fit
    }
    if (status != 0) {
        log.WriteLog(LogLevel::Error, "Stopping a trace didnt complete.", AsStatus(status));
    }
    session.Properties.reset();
    if (status != 0) {
        log.WriteLog(LogLevel::Error, "Stopping a trace did not complete", AsStatus(status));
    }
    return status;
}

}  // namespace

std::string TraceFilePath(const std::string& directory)
{
    return directory + "\\" + TraceFileName;
}

std::vector<uint8_t> BuildTraceProperties(const std::u16string& traceFile)
{
    namespace field = trace_properties;
    std::vector<uint8_t> block(TracePropertiesSize, 0);
    WriteU32(block, field::WnodeBufferSize, TracePropertiesSize);
    WriteU32(block, field::WnodeFlags, 0x00020000);  // WNODE_FLAG_TRACED_GUID
    WriteU32(block, field::BufferSize, 512);         // in KB
    WriteU32(block, field::MinimumBuffers, 1024);
    WriteU32(block, field::MaximumBuffers, 1024);
    WriteU32(block, field::MaximumFileSize, 100);     // in MB
    WriteU32(block, field::LogFileMode, 0x02000001);  // sequential file, system logger
    WriteU32(block, field::LogFileNameOffset, TraceLogFileNameOffset);
    WriteU32(block, field::LoggerNameOffset, TraceLoggerNameOffset);
    WriteUtf16Le(block, TraceLogFileNameOffset,
                 std::u16string_view(traceFile).substr(0, TraceLogFileNameMaxChars));
    return block;
}

int32_t RunPowerTrace(std::string directory, DebugLog& log, EventTraceController& controller,
                      Interruption& interruption, FileSystem& files)
{
    size_t lastBackslash = directory.rfind('\\');
    std::string parent =
        lastBackslash == std::string::npos ? directory : directory.substr(0, lastBackslash);
    if (directory.empty() || files.Stat(parent) != 0) {
        log.WriteLog(LogLevel::Error, "Wrong file path was provided for trace collection", BadPath);
        return BadPath;
    }

    PowerTraceSession session;
    if (uint32_t status = StartPowerTraceSession(directory, session, log, controller);
        status != 0) {
        log.WriteLog(LogLevel::Error, "Starting a trace did not complete", AsStatus(status));
        return AsStatus(status);
    }
    uint32_t enableStatus = EnablePowerProviders(session, log, controller, interruption);
    if (enableStatus != 0) {
        log.WriteLog(LogLevel::Error, "Enabling a trace did not complete", AsStatus(enableStatus));
    }
    // Stopped on every path, so that the next run can start "mytrace4" again.
    uint32_t stopStatus = StopPowerTraceSession(session, log, controller);
    if (enableStatus != 0) {
        return AsStatus(enableStatus);
    }
    return AsStatus(stopStatus);
}

}  // namespace dormex
