// A rule file checked as dormex-rules-check checks it: loaded and validated
// as a run loads it, then every pattern compiled.
#include <cstdint>
#include <memory>
#include <sstream>

#include "FuzzSupport.h"
#include "platform/NativeFileSystem.h"
#include "rules/RuleCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::unique_ptr<dormex::FileSystem> files = dormex::MakeNativeFileSystem();
    const std::string path = (dormex::fuzz::ProcessDirectory() / "rules.xml").string();
    dormex::test::WriteFile(path, dormex::fuzz::AsText(data, size));
    std::ostringstream out;
    dormex::CheckRuleFile(path, out, *files);
    return 0;
}
