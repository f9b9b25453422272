#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace dormex {

// One machine snapshot of a lab's library.
struct Capture {
    std::filesystem::path File;
    // As the lab names it: the argument, or the argument's folder joined with
    // the path below it. The results' `capture` member holds this name.
    std::string Name;
    // The path of the capture's output folder below the lab's output folder:
    // the file's name, or its path below the folder it was found in, with
    // forward slashes.
    std::string Relative;
};

struct Library {
    std::vector<Capture> Captures;         // in the order of the arguments, each folder sorted
    std::vector<std::string> NotCaptures;  // files of the folders that are not snapshots
    std::string Fault;                     // a bad argument: said, and nothing is run
};

// The captures of the arguments: files are captures whatever they hold; a
// folder is searched through, `outside` (the lab's output folder) excepted,
// for JSON files that declare the machine snapshot format near their start.
Library FindCaptures(const std::vector<std::string>& arguments,
                     const std::filesystem::path& outside);

// UTF-8 text of a path, and back.
std::string Utf8Path(const std::filesystem::path& path);
std::filesystem::path PathOfUtf8(const std::string& text);

// Shard `index` (from 1) of `count`: a stable share of the captures, chosen
// by a hash of the relative path, so that each runner of a job array takes
// its own and together they take each capture once.
struct Shard {
    uint32_t Index = 1;
    uint32_t Count = 1;
};
std::optional<Shard> ParseShard(const std::string& text);
bool InShard(const std::string& relative, Shard shard);

// Whether `results` is newer than the capture and every file of the rule
// folder: a lab run that finds it so need not run the capture again.
bool IsUpToDate(const std::filesystem::path& results, const std::filesystem::path& capture,
                const std::filesystem::path& rules);

}  // namespace dormex
