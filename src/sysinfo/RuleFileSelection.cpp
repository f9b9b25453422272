#include "sysinfo/RuleFileSelection.h"

#include <fstream>

#include "common/Text.h"
#include "platform/FileSystem.h"
#include "sysinfo/SystemInfo.h"

namespace dormex {

std::optional<RuleFolderChoice> FindRuleFolder(FileSystem& files)
{
    if (IsDirectory(files.GetFileAttributesW(u"rules_for_soc"))) {
        return RuleFolderChoice{RuleFolder, false};
    }
    const std::string program = files.ModuleFileName();
    const size_t separator = program.find_last_of("\\/");
    if (separator == std::string::npos) {
        return std::nullopt;
    }
    std::string beside = program.substr(0, separator) + "\\" + RuleFolder;
    if (!IsDirectory(files.GetFileAttributesW(Utf8ToUtf16(beside)))) {
        return std::nullopt;
    }
    return RuleFolderChoice{std::move(beside), true};
}

std::string RuleFilePath(const SystemInfo& info, const std::string& folder)
{
    return folder + "\\Family_" + std::to_string(info.CpuFamily) + "_Model_" +
           std::to_string(info.CpuModel) + "_" + OsName(info) + ".xml";
}

std::string TestRuleFilePathIn(const std::optional<RuleFolderChoice>& folder)
{
    if (folder && folder->BesideProgram) {
        return folder->Path + "\\" + TestRuleFileName;
    }
    return TestRuleFilePath;
}

bool FileIsReadable(std::string path, FileSystem& files)
{
    std::ifstream file(files.NativePath(path));
    return file.is_open();
}

}  // namespace dormex
