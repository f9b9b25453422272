#include "common/FileLimits.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace dormex {

std::optional<std::string> InputFileRefusal(const std::string& nativePath)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(nativePath, error);
    if (error || !std::filesystem::exists(status)) {
        return std::nullopt;
    }
    if (!std::filesystem::is_regular_file(status)) {
        return std::string("not a regular file");
    }
    const uintmax_t size = std::filesystem::file_size(nativePath, error);
    if (!error && size > MaxInputFileSize) {
        return "larger than " + std::to_string(MaxInputFileSize / (1024 * 1024)) + " MiB";
    }
    return std::nullopt;
}

InputFileText ReadInputFile(const std::string& nativePath)
{
    if (std::optional<std::string> refusal = InputFileRefusal(nativePath)) {
        return {{}, *refusal};
    }
    std::ifstream file(nativePath, std::ios::binary);
    if (!file.is_open()) {
        return {{}, "cannot be opened"};
    }
    // Read in one piece of the size the file has, then whatever it grew by.
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(nativePath, error);
    std::string text(error ? 0 : static_cast<size_t>(std::min<uintmax_t>(size, MaxInputFileSize)),
                     '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(file.gcount()));
    if (file) {
        std::ostringstream rest;
        rest << file.rdbuf();
        text += std::move(rest).str();
    }
    if (file.bad()) {
        return {{}, "cannot be read"};
    }
    return {std::move(text), {}};
}

}  // namespace dormex
