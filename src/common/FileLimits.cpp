#include "common/FileLimits.h"

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
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        return {{}, "cannot be read"};
    }
    return {std::move(text).str(), {}};
}

}  // namespace dormex
