// The power trace session on a replayed machine whose snapshot makes calls
// fail; a decorator notes the calls the session makes to the controller.
#include <gtest/gtest.h>

#include "TestPlatform.h"
#include "platform/TraceProviders.h"
#include "trace/PowerTraceSession.h"
#include "trace/RundownLists.h"
#include "trace/TraceDecoding.h"

namespace dormex {
namespace {

// Passes every call on to the replayed controller and notes it, with the
// arguments the operating system acts on.
class CallLog final : public EventTraceController, public Interruption {
public:
    CallLog(EventTraceController& controller, Interruption& interruption)
        : controller_(controller), interruption_(interruption)
    {
    }
    std::string calls;

    uint32_t StartTraceW(TraceHandle* handle, const std::u16string& name,
                         std::span<uint8_t> properties) override
    {
        Note("start " + std::string(name.begin(), name.end()));
        return controller_.StartTraceW(handle, name, properties);
    }
    uint32_t ControlTraceW(TraceHandle handle, const std::u16string& name,
                           std::span<uint8_t> properties, uint32_t code) override
    {
        Note("control " + std::to_string(handle) + " " + std::to_string(code));
        return controller_.ControlTraceW(handle, name, properties, code);
    }
    uint32_t EnableTraceEx2(TraceHandle handle, const Guid& provider, uint32_t code, uint8_t level,
                            uint64_t any, uint64_t all, uint32_t timeout) override
    {
        Note(std::string(provider == KernelPowerProvider ? "PoFx " : "Pep ") +
             std::to_string(code) + " " + std::to_string(level) + " " + std::to_string(any) +
             std::to_string(all) + std::to_string(timeout));
        return controller_.EnableTraceEx2(handle, provider, code, level, any, all, timeout);
    }
    uint32_t StopTraceW(TraceHandle handle, const std::u16string& name,
                        std::span<uint8_t> properties) override
    {
        Note("stop");
        return controller_.StopTraceW(handle, name, properties);
    }
    bool Requested() override { return interruption_.Requested(); }
    void Sleep(uint32_t milliseconds) override
    {
        Note("sleep " + std::to_string(milliseconds));
        interruption_.Sleep(milliseconds);
    }

private:
    void Note(const std::string& call) { calls += (calls.empty() ? "" : ", ") + call; }
    EventTraceController& controller_;
    Interruption& interruption_;
};

// The trace of one replayed machine: captured, then read when that worked.
struct Trace {
    test::TestMachine machine;
    CallLog log{machine.Services.traceController, machine.Services.interruption};
    int32_t traceStatus = -1;
    int32_t processStatus = -1;

    explicit Trace(const std::string& faults)
        : machine(R"({"format": "dormex-machine/1", "faults": )" + faults + R"(, "events": [
            {"provider": "Microsoft-Windows-Kernel-Power", "id": 320,
             "properties": [["DeviceId", "\\_SB.PC00.HDAS"], ["ServiceName", "HDAudBus"]]}]})")
    {
        machine.CaptureLog();
        const std::string& folder = machine.Profile;
        traceStatus = RunPowerTrace(folder, machine.State.Log, log, log, machine.Files);
        if (traceStatus == 0) {
            processStatus = ProcessPowerTrace(folder, machine.State.Rundowns, machine.State.Log,
                                              machine.Services.traceConsumer, machine.Services.tdh,
                                              machine.Services.interruption, machine.Files);
        }
    }
};

// The four enables in order (provider, control code, level, keywords and
// timeout), then the disables and the stop that follow on every path.
const std::string Enables[] = {"PoFx 1 4 000", "PoFx 2 4 000", "Pep 1 5 100", "Pep 2 5 100"};
const std::string Stop = "PoFx 0 4 000, Pep 0 4 000, stop";
const std::string Capture = "start mytrace4, " + Enables[0] + ", " + Enables[1] + ", " +
                            Enables[2] + ", " + Enables[3] + ", sleep 5000, " + Stop;

// The scenarios replay a session that cannot start, one left running, a
// failing capture, stop and open; here every call's failure in turn.
TEST(PowerTrace, EachFailingCallStopsTheSessionAndLogsItsStatus)
{
    struct Case {
        std::string faults;
        int32_t traceStatus;
        int32_t processStatus;
        std::string calls;
        std::string log;
        size_t records = 0;
    };
    const std::string restart =
        "\nINFORMATION:: Stopped the trace session mytrace4 that an earlier run left running; "
        "starting it again";
    auto startFailed = [](const std::string& code) {
        return "\nERROR:: Starting trace failed.  :: Error code: " + code +
               "\nERROR:: Starting a trace did not complete :: Error code: " + code;
    };
    const std::string read = "\nINFORMATION:: Number of buffers lost: 0";
    std::vector<Case> cases = {
        {"{}", 0, 0, Capture, read, 1},
        // A status of 0 is success, as for every call.
        {R"({"StartTraceW": [0]})", 0, 0, Capture, read, 1},
        {R"({"StartTraceW": 0})", 0, 0, Capture, read, 1},
        {R"({"StartTraceW": [183], "ControlTraceW": 0})", 0, 0,
         "start mytrace4, control 0 1, " + Capture, restart + read, 1},
        // A session left by an earlier run is stopped, and the start tried once more.
        {R"({"StartTraceW": [183]})", 0, 0, "start mytrace4, control 0 1, " + Capture,
         restart + read, 1},
        {R"({"StartTraceW": [183, 5]})", 5, -1, "start mytrace4, control 0 1, start mytrace4",
         restart + startFailed("5")},
        {R"({"StartTraceW": [183], "ControlTraceW": 5})", 183, -1, "start mytrace4, control 0 1",
         "\nERROR:: Cannot stop the trace session mytrace4 left by an earlier run :: Error code: 5" +
             startFailed("183")},
        // ERROR_MORE_DATA: the session stopped, only its statistics did not fit.
        {R"({"StopTraceW": 234})", 0, 0, Capture, read, 1},
        {R"({"OpenTraceW": 0})", 0, 31, Capture, "\nERROR:: OpenTrace failed."},
        {R"({"ProcessTrace": 87})", 0, 87, Capture,
         read + "\nERROR:: ProcessTrace failed. :: Error code: 87"},
    };
    const char* enableFailures[] = {
        "Trace for PoFx didnt complete  ", "Capture state for PoFx didnt complete  ",
        "Trace for PEP didnt complete  ", "Capture state for PEP didnt complete."};
    std::string enabled = "start mytrace4";
    for (int i = 0; i < 4; ++i) {
        enabled += ", " + Enables[i];
        cases.push_back({R"({"EnableTraceEx2": {")" + std::to_string(i + 1) + R"(": 5}})", 5, -1,
                         enabled + ", " + Stop,
                         "\nERROR:: Enabling " + std::string(enableFailures[i]) +
                             " :: Error code: 5"
                             "\nERROR:: Enabling a trace did not complete :: Error code: 5"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faults);
        Trace trace(c.faults);
        EXPECT_EQ(trace.traceStatus, c.traceStatus);
        EXPECT_EQ(trace.processStatus, c.processStatus);
        EXPECT_EQ(trace.log.calls, c.calls);
        EXPECT_EQ(trace.machine.DebugLogText(), c.log);
        EXPECT_EQ(trace.machine.State.Rundowns.PoFxRundownList.size(), c.records);
    }
}

// The path is ours, the block's layout the operating system's: a deep
// profile folder is passed whole up to 1,023 characters.
TEST(PowerTrace, PropertiesHoldTheTraceFilePathUpTo1023Characters)
{
    for (const size_t length : {size_t{300}, size_t{1100}}) {
        const std::vector<uint8_t> block = BuildTraceProperties(std::u16string(length, u'x'));
        ASSERT_EQ(block.size(), 4216u);
        EXPECT_EQ(block[112] | block[113] << 8, 2168);  // where the name starts
        const size_t kept = std::min<size_t>(length, 1023);
        EXPECT_EQ(block[2168 + 2 * (kept - 1)], 'x') << length;
        EXPECT_EQ(block[2168 + 2 * kept], 0) << length;
    }
}

}  // namespace
}  // namespace dormex
