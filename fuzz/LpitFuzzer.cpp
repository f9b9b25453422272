// The LPIT reader and its report section on any table the firmware returns.
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "FuzzSupport.h"
#include "log/DebugLog.h"
#include "lpit/Lpit.h"
#include "platform/replay/ReplayDevices.h"
#include "report/MachineSections.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    dormex::MachineSnapshot snapshot;
    snapshot.FirmwareTables["LPIT"].assign(data, data + size);
    dormex::ReplayInterruption uninterrupted(snapshot);
    dormex::ReplayFirmwareTables firmware(snapshot, uninterrupted);

    dormex::NullConsole console;
    std::ostringstream entries;
    dormex::DebugLog log(console);
    log.WriteTo(&entries);
    dormex::LpitTable table;
    int32_t status = dormex::ReadLpit(table, log, firmware);
    // A table read holds every whole descriptor after its header, and no more.
    if (status == 0 &&
        (size < dormex::LpitHeaderSize ||
         table.Descriptors.size() != (size - dormex::LpitHeaderSize) / dormex::LpitDescriptorSize ||
         table.DescriptorCount != int32_t(table.Descriptors.size()))) {
        std::abort();
    }
    dormex::BuildLpitSection(table, status != 0 ? "LPIT cannot be retrived." : "", log);
    return 0;
}
