// A rule file checked as dormex-rules-check checks it: loaded and validated
// as a run loads it, then linted, and every finding formatted both ways.
#include <cstdint>
#include <memory>

#include "FuzzSupport.h"
#include "platform/NativeFileSystem.h"
#include "rules/RuleCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::unique_ptr<dormex::FileSystem> files = dormex::MakeNativeFileSystem();
    const std::string path = (dormex::fuzz::ProcessDirectory() / "rules.xml").string();
    dormex::test::WriteFile(path, dormex::fuzz::AsText(data, size));
    const dormex::RuleFileCheck check = dormex::CheckRuleFile(path, *files);
    for (const dormex::RuleDiagnostic& diagnostic : check.Diagnostics) {
        dormex::FormatDiagnostic(path, diagnostic);
    }
    dormex::DiagnosticsAsJson({check});
    return 0;
}
