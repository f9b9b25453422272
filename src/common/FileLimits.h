#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dormex {

// The largest input file any part of Dormex reads whole: a machine snapshot,
// a rule file or a results file.
inline constexpr uint64_t MaxInputFileSize = 256ull * 1024 * 1024;

// Why a file that is to be read whole cannot be: it is not a regular file
// (a folder, a FIFO, a device), or it is larger than MaxInputFileSize.
// Nothing when it can be read; a file that does not exist is left to the
// reader's own message.
std::optional<std::string> InputFileRefusal(const std::string& nativePath);

// The whole file, or why it cannot be had: "cannot be opened", "cannot be
// read" or the refusal above.
struct InputFileText {
    std::string Text;
    std::string Fault;  // empty when the file was read
};
InputFileText ReadInputFile(const std::string& nativePath);

}  // namespace dormex
