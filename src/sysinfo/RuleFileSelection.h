#pragma once

#include <string>

namespace dormex {

class FileSystem;
struct SystemInfo;

inline constexpr const char* RuleFolder = "rules_for_soc";
inline constexpr const char* TestRuleFilePath =
    ".\\rules_for_soc\\Family_6_Model_138_Microsoft_Windows_10.xml";

// rules_for_soc\Family_<f>_Model_<m>_<os name>.xml for this machine.
std::string RuleFilePath(const SystemInfo& info);

// Whether an input stream opens on the file.
bool FileIsReadable(std::string path, FileSystem& files);

}  // namespace dormex
