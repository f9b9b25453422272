#include "app/OutputPaths.h"

namespace dormex {

std::string OutputDirectory(const SystemInfo& info, FileSystem& files)
{
    std::string desktop = info.UserProfile + "\\Desktop";
    if (IsDirectory(files.GetFileAttributesA(desktop))) {
        return desktop;
    }
    // However long it is: a cut or missing folder would put the files in the
    // root of the drive.
    std::string directory(files.GetCurrentDirectoryA(0, nullptr), '\0');
    uint32_t length =
        files.GetCurrentDirectoryA(static_cast<uint32_t>(directory.size()), directory.data());
    if (length == 0 || length >= directory.size()) {
        return {};
    }
    directory.resize(length);
    return directory;
}

std::string ReportFilePath(std::string prefix, std::string extension, const SystemInfo& info,
                           FileSystem& files)
{
    return OutputDirectory(info, files) + "\\" + prefix + extension;
}

}  // namespace dormex
