#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Interruption.h"

namespace dormex {

// Why the program does not run at all: one line for standard error, and the
// exit status.
struct ProcessRefusal {
    int32_t Code = 0;
    std::string Message;
};

// What the program holds for its whole process on the system it runs on, from
// the start of main() to its end: one Dormex run at a time on the machine,
// console text in UTF-8, and console events (Ctrl+C, the window closed) noted
// as an interruption instead of ending the process. The build compiles the one
// implementation that fits (Win32 or POSIX).
class NativeProcess {
public:
    virtual ~NativeProcess() = default;

    // Set when the program must not run here; nothing else was set up then.
    virtual const std::optional<ProcessRefusal>& Refusal() const = 0;

    // The console's interruption requests.
    virtual Interruption& ConsoleInterruption() = 0;
};

std::unique_ptr<NativeProcess> StartNativeProcess();

}  // namespace dormex
