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
};

}  // namespace dormex
