#pragma once

#include <string_view>

namespace dormex {

// The process console: narrow text out, one formatted character in.
class Console {
public:
    virtual ~Console() = default;
    virtual void Write(std::string_view text) = 0;
    // Formatted single-character extraction: leading white space is skipped.
    // Returns false at end of input.
    virtual bool ReadChar(char* c) = 0;
    // Standard error: what the program says about its own files, beside the
    // run's fixed output.
    virtual void WriteError(std::string_view text) = 0;
};

// A console that drops what is written and has no input, for programs that
// report the log's lines in a form of their own.
class NullConsole final : public Console {
public:
    void Write(std::string_view) override {}
    bool ReadChar(char*) override { return false; }
    void WriteError(std::string_view) override {}
};

}  // namespace dormex
