#include <unistd.h>

#include <cstdio>

#include "platform/NativeProcess.h"
#include "platform/StandardConsole.h"

namespace dormex {

namespace {

// Only snapshots are replayed here, in a second or less, and the machine's
// trace session is never touched: a run needs no lock, and a console signal
// may end it as usual.
class PosixProcess final : public NativeProcess {
public:
    const std::optional<ProcessRefusal>& Refusal() const override { return refusal_; }
    Interruption& ConsoleInterruption() override { return interruption_; }

private:
    std::optional<ProcessRefusal> refusal_;
    NoInterruption interruption_;
};

}  // namespace

std::unique_ptr<NativeProcess> StartNativeProcess()
{
    return std::make_unique<PosixProcess>();
}

bool StandardErrorIsTerminal()
{
    return isatty(fileno(stderr)) != 0;
}

}  // namespace dormex
