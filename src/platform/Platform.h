#pragma once

#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "platform/PowerInformation.h"
#include "platform/Registry.h"
#include "platform/Security.h"

namespace dormex {

// The operating-system services one run uses, built by main() (or a test).
struct Platform {
    Registry& registry;
    PowerInformation& power;
    Security& security;
    FileSystem& files;
    Console& console;
};

}  // namespace dormex
