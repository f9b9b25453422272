#pragma once

#include <string>
#include <string_view>

#include "platform/Interruption.h"
#include "platform/snapshot/MachineSnapshot.h"

namespace dormex {

// Ctrl+C as a snapshot replays it: requested from the first call of the name
// that its "interrupt" fault gives on. The console's own requests count too
// when a console is beside it.
class ReplayInterruption final : public Interruption {
public:
    explicit ReplayInterruption(const MachineSnapshot& snapshot) : at_(snapshot.Faults.Interrupt) {}

    void Beside(Interruption* console) { console_ = console; }
    // The replay has reached a call of this name.
    void Reached(std::string_view call) { fired_ = fired_ || (!at_.empty() && call == at_); }

    bool Requested() override { return fired_ || (console_ != nullptr && console_->Requested()); }
    void Sleep(uint32_t) override { Reached("Sleep"); }

private:
    const std::string at_;
    bool fired_ = false;
    Interruption* console_ = nullptr;
};

}  // namespace dormex
