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

}  // namespace dormex
