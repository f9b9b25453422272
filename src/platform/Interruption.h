#pragma once

#include <cstdint>

namespace dormex {

// The user's request to stop a run: Ctrl+C, Ctrl+Break, or the console window
// closed (log-off and shut-down alike). The platform's handler only notes the
// request; the run asks for it between its steps, stops what it started,
// removes its scratch files and ends with a stop of its own.
class Interruption {
public:
    virtual ~Interruption() = default;

    virtual bool Requested() = 0;

    // Sleep, cut short by a request: the capture window. A replayed machine
    // need not wait.
    virtual void Sleep(uint32_t milliseconds) = 0;
};

// For runs that no console can interrupt (tests, fuzzing, benchmarks).
class NoInterruption final : public Interruption {
public:
    bool Requested() override { return false; }
    void Sleep(uint32_t) override {}
};

}  // namespace dormex
