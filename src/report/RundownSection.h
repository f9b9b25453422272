#pragma once

#include <string>

namespace dormex {

struct RundownLists;

// The PEP device, PoFx and OS device tables.
std::string BuildRundownSection(const RundownLists& rundowns);

}  // namespace dormex
