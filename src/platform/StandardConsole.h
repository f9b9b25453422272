#pragma once

#include "platform/Console.h"

namespace dormex {

// The process's standard output and input.
class StandardConsole final : public Console {
public:
    void Write(std::string_view text) override;
    bool ReadChar(char* c) override;
    void WriteError(std::string_view text) override;
};

// Whether standard error is a terminal, where a progress line can be redrawn
// in place. The build compiles the one implementation that fits.
bool StandardErrorIsTerminal();

}  // namespace dormex
