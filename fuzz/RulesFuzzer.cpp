// A rule file checked as dormex-rules-check checks it: loaded and validated
// as a run loads it, then every pattern compiled.
#include <cstdint>
#include <memory>
#include <sstream>
#include <string_view>

#include "FuzzSupport.h"
#include "log/DebugLog.h"
#include "platform/NativeFileSystem.h"
#include "rules/RuleCheck.h"
#include "rules/RuleParser.h"
#include "rules/RuleSet.h"

namespace {

// A known fault, being mended by replacing the regular-expression engine:
// std::regex recurses once per nesting level and per alternative, and
// unrolls counted repeats, so a long or deeply repeated pattern overflows the
// stack or exhausts memory. Patterns beyond these bounds are left out until
// the new engine lands; then this check goes.
bool WithinKnownRegexLimits(std::string_view pattern)
{
    constexpr size_t MaxLength = 128;
    constexpr uint64_t MaxRepeatProduct = 4096;
    if (pattern.size() > MaxLength) {
        return false;
    }
    // Every counted repeat multiplies the states of what it repeats.
    uint64_t product = 1;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '{') {
            continue;
        }
        uint64_t largest = 0;
        uint64_t number = 0;
        for (++i; i < pattern.size() && pattern[i] != '}'; ++i) {
            if (pattern[i] >= '0' && pattern[i] <= '9') {
                number = std::min<uint64_t>(number * 10 + uint64_t(pattern[i] - '0'), 1 << 20);
            } else {
                number = 0;
            }
            largest = std::max(largest, number);
        }
        product *= std::max<uint64_t>(largest, 1);
        if (product > MaxRepeatProduct) {
            return false;
        }
    }
    return true;
}

bool PatternsWithinKnownLimits(const std::string& path, dormex::FileSystem& files)
{
    dormex::fuzz::NullConsole console;
    dormex::DebugLog log(console);
    dormex::RuleSet rules;
    dormex::LoadRuleFile(path, rules, log, files);
    for (const dormex::OsEntry& entry : rules.OsEntries) {
        for (const dormex::Rule& rule : entry.Rules) {
            if (!WithinKnownRegexLimits(rule.Regex)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::unique_ptr<dormex::FileSystem> files = dormex::MakeNativeFileSystem();
    const std::string path = (dormex::fuzz::ProcessDirectory() / "rules.xml").string();
    dormex::test::WriteFile(path, dormex::fuzz::AsText(data, size));
    if (!PatternsWithinKnownLimits(path, *files)) {
        return -1;  // not kept in the corpus
    }
    std::ostringstream out;
    dormex::CheckRuleFile(path, out, *files);
    return 0;
}
