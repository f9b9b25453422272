#include "lab/Library.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <system_error>

#include "common/Text.h"

namespace dormex {

namespace fs = std::filesystem;

namespace {

// A JSON file that names the snapshot format anywhere: a recorded snapshot
// names it first, other writers may put it after the events.
bool IsSnapshotFile(const fs::path& file)
{
    if (AsciiLower(Utf8Path(file.extension())) != ".json") {
        return false;
    }
    constexpr std::string_view Marker = "\"dormex-machine/";
    constexpr size_t Piece = 1 << 20;
    std::ifstream stream(file, std::ios::binary);
    std::string text;
    while (stream) {
        // The piece before keeps its last bytes, which a marker may begin in.
        const size_t kept = std::min(text.size(), Marker.size() - 1);
        text.erase(0, text.size() - kept);
        text.resize(kept + Piece);
        stream.read(text.data() + kept, static_cast<std::streamsize>(Piece));
        text.resize(kept + static_cast<size_t>(stream.gcount()));
        if (text.find(Marker) != std::string::npos) {
            return true;
        }
    }
    return false;
}

bool IsInside(const fs::path& path, const fs::path& folder)
{
    auto [end, unused] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return !folder.empty() && end == folder.end();
}

}  // namespace

std::string Utf8Path(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

fs::path PathOfUtf8(const std::string& text)
{
    return fs::path(std::u8string(text.begin(), text.end()));
}

Library FindCaptures(const std::vector<std::string>& arguments, const fs::path& outside)
{
    Library library;
    std::error_code error;
    const fs::path excluded = fs::weakly_canonical(outside, error);
    for (const std::string& argument : arguments) {
        const fs::path given = PathOfUtf8(argument);
        if (fs::is_regular_file(given, error)) {
            library.Captures.push_back({given, argument, Utf8Path(given.filename())});
            continue;
        }
        if (!fs::is_directory(given, error)) {
            library.Fault = argument + ": no such file or folder";
            return library;
        }
        std::vector<fs::path> files;
        fs::recursive_directory_iterator entries(
            given, fs::directory_options::skip_permission_denied, error);
        for (auto entry = entries; !error && entry != fs::recursive_directory_iterator();
             entry.increment(error)) {
            if (entry->is_directory(error) &&
                IsInside(fs::weakly_canonical(entry->path(), error), excluded)) {
                entry.disable_recursion_pending();
            } else if (entry->is_regular_file(error)) {
                files.push_back(entry->path());
            }
        }
        if (error) {
            library.Fault = argument + ": cannot be searched: " + error.message();
            return library;
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            const std::string name = Utf8Path(file);
            if (IsSnapshotFile(file)) {
                const std::u8string relative = file.lexically_relative(given).generic_u8string();
                library.Captures.push_back({file, name, {relative.begin(), relative.end()}});
            } else {
                library.NotCaptures.push_back(name);
            }
        }
    }
    std::map<std::string, const Capture*> byFolder;
    for (const Capture& capture : library.Captures) {
        auto [at, added] = byFolder.emplace(capture.Relative, &capture);
        if (!added) {
            library.Fault = capture.Name + " and " + at->second->Name +
                            " would share the output folder " + capture.Relative;
            return library;
        }
    }
    return library;
}

std::optional<Shard> ParseShard(const std::string& text)
{
    const size_t slash = text.find('/');
    if (slash == std::string::npos) {
        return std::nullopt;
    }
    auto number = [](std::string_view digits) -> std::optional<uint32_t> {
        if (digits.empty() || digits.size() > 6 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        return static_cast<uint32_t>(std::stoul(std::string(digits)));
    };
    auto index = number(std::string_view(text).substr(0, slash));
    auto count = number(std::string_view(text).substr(slash + 1));
    if (!index || !count || *index < 1 || *index > *count) {
        return std::nullopt;
    }
    return Shard{*index, *count};
}

bool InShard(const std::string& relative, Shard shard)
{
    // FNV-1a: the same on every machine and every build.
    uint64_t hash = 14695981039346656037ULL;
    for (unsigned char c : relative) {
        hash = (hash ^ c) * 1099511628211ULL;
    }
    return hash % shard.Count == shard.Index - 1;
}

bool IsUpToDate(const fs::path& results, const fs::path& capture, const fs::path& rules)
{
    std::error_code error;
    const fs::file_time_type written = fs::last_write_time(results, error);
    if (error || fs::last_write_time(capture, error) >= written || error) {
        return false;
    }
    fs::recursive_directory_iterator entries(rules, error);
    for (auto entry = entries; !error && entry != fs::recursive_directory_iterator();
         entry.increment(error)) {
        if (entry->last_write_time(error) >= written) {
            return false;
        }
    }
    return !error && fs::last_write_time(rules, error) < written && !error;
}

}  // namespace dormex
