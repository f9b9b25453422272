// The machine snapshot loader on any text: a snapshot or an error naming a
// JSON path, never a crash.
#include <cstdint>
#include <cstdlib>
#include <variant>

#include "FuzzSupport.h"
#include "platform/snapshot/MachineSnapshot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto parsed = dormex::ParseMachineSnapshot(dormex::fuzz::AsText(data, size));
    if (const auto* error = std::get_if<dormex::SnapshotError>(&parsed)) {
        // Every error names a member: the document, or a path below it.
        if (error->Path.empty() || error->Path[0] != '$' || error->Message.empty()) {
            std::abort();
        }
    }
    return 0;
}
