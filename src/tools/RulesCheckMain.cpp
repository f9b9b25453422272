// dormex-rules-check <file>...: checks rule files as a run would load them,
// and compiles every pattern. Exits 1 when any file has a problem.
#include <iostream>

#include "common/StatusCodes.h"
#include "platform/NativeFileSystem.h"
#include "rules/RuleCheck.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::cerr << "usage: dormex-rules-check <rule file>...\n";
        return dormex::ExitBadInput;
    }
    std::unique_ptr<dormex::FileSystem> files = dormex::MakeNativeFileSystem();
    bool valid = true;
    for (int i = 1; i < argc; ++i) {
        valid = dormex::CheckRuleFile(argv[i], std::cout, *files) && valid;
    }
    return valid ? 0 : dormex::ExitRuleFileFaulty;
}
