#pragma once

#include <memory>

#include "platform/Platform.h"
#include "platform/snapshot/MachineSnapshot.h"

namespace dormex {

// Passes every machine service of `inner` through to it and keeps what each
// call asked and got, as a machine snapshot that replays the same run. Files,
// the environment and the console stay the inner ones and are not recorded.
class MachineRecorder {
public:
    explicit MachineRecorder(const Platform& inner);
    MachineRecorder(const MachineRecorder&) = delete;
    MachineRecorder& operator=(const MachineRecorder&) = delete;

    ~MachineRecorder();

    // The services to run on: the recording ones, and the inner files and
    // console.
    Platform RecordingPlatform();
    // The snapshot of everything recorded, taken once the run is over: the
    // recorder keeps none of it.
    MachineSnapshot TakeSnapshot();

private:
    struct Services;
    std::unique_ptr<Services> services_;
};

}  // namespace dormex
