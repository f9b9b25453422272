#pragma once

#include "platform/Security.h"

namespace dormex {

// Whether the calling thread's token belongs to the Administrators group.
bool IsAdministrator(Security& security);

}  // namespace dormex
