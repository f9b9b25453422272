// A rule file checked as dormex-rules-check checks it: loaded and validated
// as a run loads it, then every pattern compiled.
#include <cstdint>
#include <memory>
#include <sstream>

#include "FuzzSupport.h"
#include "platform/NativeFileSystem.h"
#include "rules/RuleCheck.h"

// A known fault, being mended by replacing the regular-expression engine:
// std::regex compiles a pattern by recursing once per nesting level, and here
// some 8,000 nested groups overflow the stack. No pattern is longer than its
// file, so longer files are left out until the new engine lands; then this
// bound goes.
constexpr size_t MaxFileSize = 4096;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > MaxFileSize) {
        return -1;  // not kept in the corpus
    }
    static const std::unique_ptr<dormex::FileSystem> files = dormex::MakeNativeFileSystem();
    const std::string path = (dormex::fuzz::ProcessDirectory() / "rules.xml").string();
    dormex::test::WriteFile(path, dormex::fuzz::AsText(data, size));
    std::ostringstream out;
    dormex::CheckRuleFile(path, out, *files);
    return 0;
}
