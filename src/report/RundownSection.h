#pragma once

#include <ostream>

namespace dormex {

struct RundownLists;

// The PEP device, PoFx and OS device tables, written into `out` as they go.
void WriteRundownSection(std::ostream& out, const RundownLists& rundowns);

}  // namespace dormex
