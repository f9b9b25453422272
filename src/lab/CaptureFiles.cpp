#include "lab/CaptureFiles.h"

#include <algorithm>

#include "common/Text.h"

namespace dormex {

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// Whether `path` names `folder` or something inside it; `rest` is what follows
// the separator.
bool IsWithin(const std::string& path, std::string_view folder, std::string_view& rest)
{
    if (folder.empty() || path.compare(0, folder.size(), folder) != 0) {
        return false;
    }
    if (path.size() == folder.size()) {
        rest = {};
        return true;
    }
    if (!IsSeparator(path[folder.size()])) {
        return false;
    }
    rest = std::string_view(path).substr(folder.size() + 1);
    return true;
}

bool IsRelative(std::string_view path)
{
    return path.empty() || (!IsSeparator(path[0]) && !(path.size() > 1 && path[1] == ':'));
}

}  // namespace

CaptureFiles::CaptureFiles(FileSystem& inner, std::string output, std::string rules)
    : inner_(inner), output_(std::move(output)), rules_(std::move(rules))
{
}

std::string CaptureFiles::Redirect(const std::string& path) const
{
    std::string_view rest;
    if (IsRelative(path)) {
        std::string_view relative = path;
        while (relative.size() > 1 && relative[0] == '.' && IsSeparator(relative[1])) {
            relative.remove_prefix(2);
        }
        constexpr std::string_view RulesFolder = "rules_for_soc";
        if (relative.substr(0, RulesFolder.size()) == RulesFolder &&
            (relative.size() == RulesFolder.size() || IsSeparator(relative[RulesFolder.size()]))) {
            return rules_ + std::string(relative.substr(RulesFolder.size()));
        }
        return Redirect(output_ + "\\" + std::string(relative));
    }
    if (!IsWithin(path, output_, rest) || rest.empty()) {
        return path;
    }
    // Only files directly in the folder: the run makes no folders there.
    const bool direct = std::find_if(rest.begin(), rest.end(), IsSeparator) == rest.end();
    return direct ? path + PartialSuffix : path;
}

uint32_t CaptureFiles::GetEnvironmentVariableA(const std::string& name, char* buffer, uint32_t size)
{
    if (name == "USERPROFILE") {
        return CopyOutText(output_, buffer, size);
    }
    if (name == "DORMEX_RESULTS") {
        return CopyOutText(output_ + "/" + LabResultsFileName, buffer, size);
    }
    return 0;
}

uint32_t CaptureFiles::GetFileAttributesA(const std::string& path)
{
    return inner_.GetFileAttributesA(Redirect(path));
}

uint32_t CaptureFiles::GetFileAttributesW(const std::u16string& path)
{
    return inner_.GetFileAttributesW(Utf8ToUtf16(Redirect(Utf16ToUtf8(path))));
}

uint32_t CaptureFiles::GetCurrentDirectoryA(uint32_t size, char* buffer)
{
    return CopyOutText(output_, buffer, size);
}

bool CaptureFiles::DeleteFileA(const std::string& path)
{
    return inner_.DeleteFileA(Redirect(path));
}

int CaptureFiles::Stat(const std::string& path)
{
    return inner_.Stat(Redirect(path));
}

std::string CaptureFiles::ModuleFileName()
{
    return inner_.ModuleFileName();
}

std::string CaptureFiles::NativePath(const std::string& path)
{
    return inner_.NativePath(Redirect(path));
}

bool CaptureFiles::WriteFileFrom(const std::string& path,
                                 const std::function<void(std::ostream&)>& write)
{
    return inner_.WriteFileFrom(inner_.NativePath(Redirect(path)), write);
}

}  // namespace dormex
