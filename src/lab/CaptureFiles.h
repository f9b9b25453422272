#pragma once

#include <string>

#include "platform/FileSystem.h"

namespace dormex {

// The name a lab gives the results file in each capture's folder.
inline constexpr const char* LabResultsFileName = "dormex-results.json";
// The suffix of a file that a capture's run is still writing.
inline constexpr const char* PartialSuffix = ".partial";

// The files a lab's run of one capture sees: its own folder (`output`) as
// the user profile and the current folder, `rules` as the rules_for_soc of
// that folder, and no environment of its own but the results file in its
// folder. Every file the run makes in its folder is written under the
// partial suffix, so that it appears whole or not at all once the lab
// renames it; the texts of the run (the log's paths, the report's) name the
// final files. `output` and `rules` are absolute native paths.
class CaptureFiles final : public FileSystem {
public:
    CaptureFiles(FileSystem& inner, std::string output, std::string rules);

    uint32_t GetEnvironmentVariableA(const std::string& name, char* buffer, uint32_t size) override;
    uint32_t GetFileAttributesA(const std::string& path) override;
    uint32_t GetFileAttributesW(const std::u16string& path) override;
    uint32_t GetCurrentDirectoryA(uint32_t size, char* buffer) override;
    bool DeleteFileA(const std::string& path) override;
    int Stat(const std::string& path) override;
    std::string ModuleFileName() override;
    std::string NativePath(const std::string& path) override;
    bool WriteFileFrom(const std::string& path,
                       const std::function<void(std::ostream&)>& write) override;

    // Where the run's `path` lies on disk.
    std::string Redirect(const std::string& path) const;

private:
    FileSystem& inner_;
    std::string output_;
    std::string rules_;
};

}  // namespace dormex
