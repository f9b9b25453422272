#include "platform/record/MachineRecorder.h"

#include "platform/record/RecordingDevices.h"
#include "platform/record/RecordingMachine.h"
#include "platform/record/RecordingTrace.h"
#include "platform/snapshot/Answers.h"

namespace dormex {

struct MachineRecorder::Services {
    explicit Services(const Platform& platform)
        : inner(platform),
          recording(platform.interruption),
          interruption(recording),
          registry(platform.registry, recording),
          power(platform.power, recording),
          security(platform.security, recording),
          traceController(platform.traceController, recording),
          traceConsumer(platform.traceConsumer, recording),
          tdh(platform.tdh, recording),
          deviceManager(platform.deviceManager, recording),
          firmwareTables(platform.firmwareTables, recording),
          deviceIo(platform.deviceIo, recording)
    {
    }

    Platform inner;
    Recording recording;
    RecordingInterruption interruption;
    RecordingRegistry registry;
    RecordingPowerInformation power;
    RecordingSecurity security;
    RecordingEventTraceController traceController;
    RecordingEventTraceConsumer traceConsumer;
    RecordingTdh tdh;
    RecordingDeviceManager deviceManager;
    RecordingFirmwareTables firmwareTables;
    RecordingDeviceIo deviceIo;
};

MachineRecorder::MachineRecorder(const Platform& inner)
    : services_(std::make_unique<Services>(inner))
{
}

MachineRecorder::~MachineRecorder() = default;

Platform MachineRecorder::RecordingPlatform()
{
    Services& s = *services_;
    return PlatformOf(s, s.inner.files, s.inner.console, s.interruption);
}

MachineSnapshot MachineRecorder::TakeSnapshot()
{
    Recording& recording = services_->recording;
    recording.AskingAbout(0, nullptr);
    // The lookups point into the snapshot, which leaves with the caller.
    recording.DeviceSpellings.clear();
    recording.DeviceNodes.clear();
    MachineSnapshot snapshot = std::move(recording.Snapshot);
    snapshot.Faults.StartTraceW = StartTraceFaultsOf(recording.StartTraceStatuses);
    snapshot.Faults.StartTraceWAlways = false;
    return snapshot;
}

}  // namespace dormex
