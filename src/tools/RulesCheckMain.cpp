// dormex-rules-check <file>...: checks rule files as a run would load them,
// and compiles every pattern. Exits 1 when any file has a problem.
#include <iostream>

#include "rules/RuleCheck.h"

#ifdef _WIN32
#include "platform/win32/Win32Machine.h"
#else
#include "platform/posix/PosixFileSystem.h"
#endif

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::cerr << "usage: dormex-rules-check <rule file>...\n";
        return 2;
    }
#ifdef _WIN32
    dormex::Win32FileSystem files;
#else
    dormex::PosixFileSystem files;
#endif
    bool valid = true;
    for (int i = 1; i < argc; ++i) {
        valid = dormex::CheckRuleFile(argv[i], std::cout, files) && valid;
    }
    return valid ? 0 : 1;
}
