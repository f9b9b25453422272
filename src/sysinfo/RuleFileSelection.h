#pragma once

#include <optional>
#include <string>

namespace dormex {

class FileSystem;
struct SystemInfo;

inline constexpr const char* RuleFolder = "rules_for_soc";
inline constexpr const char* TestRuleFileName = "Family_6_Model_138_Microsoft_Windows_10.xml";
inline constexpr const char* TestRuleFilePath =
    ".\\rules_for_soc\\Family_6_Model_138_Microsoft_Windows_10.xml";

// The rule folder a run uses: rules_for_soc in the current folder when it has
// one, else the one beside the program (an administrator's prompt starts in
// System32, far from where the package was unpacked), else none.
struct RuleFolderChoice {
    std::string Path;  // "rules_for_soc", or <program folder>\rules_for_soc
    bool BesideProgram = false;
};
std::optional<RuleFolderChoice> FindRuleFolder(FileSystem& files);

// <folder>\Family_<f>_Model_<m>_<os name>.xml for this machine.
std::string RuleFilePath(const SystemInfo& info, const std::string& folder = RuleFolder);

// The fixed file of the test switch: TestRuleFilePath, or the same file in the
// folder beside the program when that is the one the run uses.
std::string TestRuleFilePathIn(const std::optional<RuleFolderChoice>& folder);

// Whether an input stream opens on the file.
bool FileIsReadable(std::string path, FileSystem& files);

}  // namespace dormex
