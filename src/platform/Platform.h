#pragma once

#include "platform/Console.h"
#include "platform/DeviceIo.h"
#include "platform/DeviceManager.h"
#include "platform/EventTraceConsumer.h"
#include "platform/EventTraceController.h"
#include "platform/FileSystem.h"
#include "platform/FirmwareTables.h"
#include "platform/Interruption.h"
#include "platform/PowerInformation.h"
#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/Tdh.h"

namespace dormex {

// The operating-system services one run uses. The live machine, a replayed
// one and the recorder each hold their nine machine services and make them a
// Platform with PlatformOf, beside the run's files, console and interruption.
struct Platform {
    Registry& registry;
    PowerInformation& power;
    Security& security;
    EventTraceController& traceController;
    EventTraceConsumer& traceConsumer;
    Tdh& tdh;
    DeviceManager& deviceManager;
    FirmwareTables& firmwareTables;
    DeviceIo& deviceIo;
    FileSystem& files;
    Console& console;
    Interruption& interruption;
};

// `machine` has the nine machine services as members of the names above.
template <typename MachineServices>
Platform PlatformOf(MachineServices& machine, FileSystem& files, Console& console,
                    Interruption& interruption)
{
    return Platform{machine.registry,
                    machine.power,
                    machine.security,
                    machine.traceController,
                    machine.traceConsumer,
                    machine.tdh,
                    machine.deviceManager,
                    machine.firmwareTables,
                    machine.deviceIo,
                    files,
                    console,
                    interruption};
}

}  // namespace dormex
