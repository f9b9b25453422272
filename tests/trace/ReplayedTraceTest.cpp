// The trace session and its decoding on a replayed machine, end to end.
#include <gtest/gtest.h>

#include "TestPlatform.h"
#include "trace/PowerTraceSession.h"
#include "trace/RundownLists.h"
#include "trace/TraceDecoding.h"

namespace dormex {
namespace {

std::string SnapshotWith(const std::string& members)
{
    return R"({"format": "dormex-machine/1", )" + members + "}";
}

const std::string Events = R"("events": [
  {"provider": "Microsoft-Windows-Kernel-Pep", "id": 2, "properties": [
     ["DeviceId", "0x1"], ["DeviceName", "\\_SB.PC00.HDAS"],
     ["PlatformStateDependencyCount", "1"], ["PowerState", "3"]]},
  {"provider": "Microsoft-Windows-Kernel-Power", "id": 320, "properties": [
     ["DeviceId", "\\_SB.PC00.HDAS"], ["InstancePath", "PCI\\VEN_8A01&DEV_0001\\3&1&0&F8"],
     ["ServiceName", "HDAudBus"], ["DeviceNode", "42"]]},
  {"provider": "{331C3B3A-2005-44C2-AC5E-77220C37D6B4}", "id": 136, "properties": [
     ["DeviceNode", "0xFFFF9A0C1E3B2D50"], ["InstancePath", "USB\\ROOT_HUB30\\4&1"],
     ["FriendlyName", "Caf\u00e9 \u96c6\u7ebf\u5668"]]},
  {"provider": "Microsoft-Windows-Kernel-Pep", "id": 3, "decodingSource": 1, "properties": [
     ["DeviceId", "0x1"]]},
  {"provider": "Microsoft-Windows-Kernel-Pep", "id": 3, "pointerSize": 4, "properties": [
     ["DeviceId", "0x1"], ["ComponentDescription", "\\_SB.PC00.HDAS"],
     ["PlatformStateDependencyCount", "1"], ["PowerState", "0"]]}
])";

struct Trace {
    test::TestMachine machine;
    int32_t traceStatus = -1;
    int32_t processStatus = -1;

    explicit Trace(const std::string& snapshot) : machine(snapshot)
    {
        machine.CaptureLog();
        traceStatus = RunPowerTrace(machine.Profile, machine.State.Log,
                                    machine.Services.traceController,
                                    machine.Services.interruption, machine.Files);
        if (traceStatus == 0) {
            processStatus = ProcessPowerTrace(
                machine.Profile, machine.State.Rundowns, machine.State.Log,
                machine.Services.traceConsumer, machine.Services.tdh,
                machine.Services.interruption, machine.Files);
        }
    }
    const RundownLists& Lists() const { return machine.State.Rundowns; }
};

TEST(ReplayedTrace, CapturedRundownsBecomeRecordsInTraceOrder)
{
    Trace trace(SnapshotWith(Events));
    EXPECT_EQ(trace.traceStatus, 0);
    EXPECT_EQ(trace.processStatus, 0);
    // Kernel-Power (here once by its GUID) is captured first.
    ASSERT_EQ(trace.Lists().PoFxRundownList.size(), 1u);
    EXPECT_EQ(trace.Lists().PoFxRundownList[0].DeviceNode, 42);
    EXPECT_EQ(trace.Lists().PoFxRundownList[0].InstancePath, "PCI\\VEN_8A01&DEV_0001\\3&1&0&F8");
    ASSERT_EQ(trace.Lists().PoDeviceList.size(), 1u);
    EXPECT_EQ(trace.Lists().PoDeviceList[0].FriendlyName,
              "Caf\xC3\xA9 \xE9\x9B\x86\xE7\xBA\xBF\xE5\x99\xA8");
    ASSERT_EQ(trace.Lists().PepDeviceRundownList.size(), 1u);
    EXPECT_EQ(trace.Lists().PepDeviceRundownList[0].DeviceName, "\\_SB.PC00.HDAS");
    ASSERT_EQ(trace.Lists().PepComponentRundownList.size(), 1u);
    EXPECT_EQ(trace.Lists().PepComponentRundownList[0].ComponentDescription, "\\_SB.PC00.HDAS");
}

TEST(ReplayedTrace, AZeroUnitInAValueCutsItAndShiftsNoLaterValue)
{
    struct Case {
        const char* values[4];  // DeviceId, InstancePath, ServiceName, DeviceNode
        const char* deviceId;
        const char* instancePath;
    };
    const Case cases[] = {
        {{R"(\\_SB.PC00.HDAS\u0000TAIL)", "PCI\\\\VEN_8A01", "HDAudBus", "42"},
         "\\_SB.PC00.HDAS",
         "PCI\\VEN_8A01"},
        {{R"(\u0000)", R"(\u0000\u0000)", R"(HDAudBus\u0000)", R"(42\u00007)"}, "", ""},
    };
    for (const Case& c : cases) {
        std::string properties;
        const char* names[] = {"DeviceId", "InstancePath", "ServiceName", "DeviceNode"};
        for (int i = 0; i < 4; ++i) {
            properties +=
                std::string(i == 0 ? "" : ", ") + "[\"" + names[i] + "\", \"" + c.values[i] + "\"]";
        }
        Trace trace(SnapshotWith(R"("events": [{"provider": "Microsoft-Windows-Kernel-Power", )"
                                 R"("id": 320, "properties": [)" +
                                 properties + "]}]"));
        EXPECT_EQ(trace.processStatus, 0);
        ASSERT_EQ(trace.Lists().PoFxRundownList.size(), 1u) << c.values[0];
        const PoFxDeviceRundown& record = trace.Lists().PoFxRundownList[0];
        EXPECT_EQ(record.DeviceId, c.deviceId);
        EXPECT_EQ(record.InstancePath, c.instancePath);
        EXPECT_EQ(record.ServiceName, "HDAudBus");
        EXPECT_EQ(record.DeviceNode, 42);
    }
}

TEST(ReplayedTrace, FaultsReplayFailingCalls)
{
    struct Case {
        const char* faults;
        int32_t traceStatus;
        int32_t processStatus;
        size_t poFxRecords;
    };
    const Case cases[] = {
        // A session an earlier run left is stopped, and the next start succeeds.
        {R"({"StartTraceW": [183]})", 0, 0, 1},
        {R"({"StartTraceW": [183, 5]})", 5, -1, 0},
        {R"({"StartTraceW": [183], "ControlTraceW": 5})", 183, -1, 0},
        // 0 is success, in a list or alone.
        {R"({"StartTraceW": [0]})", 0, 0, 1},
        {R"({"StartTraceW": 0})", 0, 0, 1},
        {R"({"StartTraceW": [183], "ControlTraceW": 0})", 0, 0, 1},
        {R"({"StopTraceW": 234})", 0, 0, 1},
        {R"({"EnableTraceEx2": {"1": 5}})", 5, -1, 0},
        {R"({"EnableTraceEx2": {"4": 5}})", 5, -1, 0},
        {R"({"StopTraceW": 1})", 1, -1, 0},
        {R"({"OpenTraceW": 0})", 0, 31, 0},
        {R"({"ProcessTrace": 1223})", 0, 0, 0},
        // Only the Pep capture fails: the Kernel-Power rundown is in the trace.
        {R"({"EnableTraceEx2": {"4": 0}})", 0, 0, 1},
    };
    for (const Case& c : cases) {
        Trace trace(SnapshotWith(Events + R"(, "faults": )" + c.faults));
        EXPECT_EQ(trace.traceStatus, c.traceStatus) << c.faults;
        EXPECT_EQ(trace.processStatus, c.processStatus) << c.faults;
        EXPECT_EQ(trace.Lists().PoFxRundownList.size(), c.poFxRecords) << c.faults;
    }
}

TEST(ReplayedTrace, EventIdsCountOnlyFromTheirOwnProvider)
{
    Trace trace(SnapshotWith(R"("events": [
      {"provider": "Microsoft-Windows-Kernel-Power", "id": 2, "properties": [
         ["DeviceId", "0x1"], ["DeviceName", "\\_SB.PC00.HDAS"],
         ["PlatformStateDependencyCount", "1"], ["PowerState", "3"]]},
      {"provider": "Microsoft-Windows-Kernel-Pep", "id": 320, "properties": [
         ["DeviceId", "\\_SB.PC00.HDAS"], ["InstancePath", "PCI\\VEN_8A01"],
         ["ServiceName", "HDAudBus"], ["DeviceNode", "42"]]}])"));
    EXPECT_EQ(trace.processStatus, 0);
    EXPECT_TRUE(trace.Lists().PepDeviceRundownList.empty());
    EXPECT_TRUE(trace.Lists().PoFxRundownList.empty());
}

TEST(ReplayedTrace, AFolderThatDoesNotExistFailsAsEtwDoes)
{
    Trace trace(SnapshotWith(Events));
    test::TestMachine& machine = trace.machine;
    const std::string missing = machine.Profile + "\\missing";
    const Platform& services = machine.Services;
    EXPECT_EQ(RunPowerTrace(missing, machine.State.Log, services.traceController,
                            services.interruption, machine.Files),
              3);
    EXPECT_EQ(ProcessPowerTrace(missing, machine.State.Rundowns, machine.State.Log,
                                services.traceConsumer, services.tdh, services.interruption,
                                machine.Files),
              3);
}

TEST(ReplayedTrace, SecondSessionStartsAfterAFailedEnable)
{
    Trace first(SnapshotWith(Events + R"(, "faults": {"EnableTraceEx2": {"2": 5}})"));
    EXPECT_EQ(first.traceStatus, 5);
    // The session was stopped, so a second run on the same machine starts one.
    EXPECT_EQ(RunPowerTrace(first.machine.Profile, first.machine.State.Log,
                            first.machine.Services.traceController,
                            first.machine.Services.interruption, first.machine.Files),
              0);
}

}  // namespace
}  // namespace dormex
