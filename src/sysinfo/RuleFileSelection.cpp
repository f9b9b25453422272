#include "sysinfo/RuleFileSelection.h"

#include <fstream>

#include "platform/FileSystem.h"
#include "sysinfo/SystemInfo.h"

namespace dormex {

std::string RuleFilePath(const SystemInfo& info)
{
    return std::string(RuleFolder) + "\\Family_" + std::to_string(info.CpuFamily) + "_Model_" +
           std::to_string(info.CpuModel) + "_" + OsName(info) + ".xml";
}

bool FileIsReadable(std::string path, FileSystem& files)
{
    std::ifstream file(files.NativePath(path));
    return file.is_open();
}

}  // namespace dormex
