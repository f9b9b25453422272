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

// The operating-system services one run uses, built by main() (or a test).
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

}  // namespace dormex
