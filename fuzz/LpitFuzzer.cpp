// The LPIT reader and its report section on any table the firmware returns.
#include <cstdint>
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
    dormex::ReplayFirmwareTables firmware(snapshot);

    dormex::fuzz::NullConsole console;
    std::ostringstream entries;
    dormex::DebugLog log(console);
    log.WriteTo(&entries);
    dormex::LpitTable table;
    int32_t status = dormex::ReadLpit(table, log, firmware);
    dormex::BuildLpitSection(table, status != 0 ? "LPIT cannot be retrived." : "", log);
    return 0;
}
