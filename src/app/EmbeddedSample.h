#pragma once

#include <string_view>

namespace dormex {

// machines/sample.json as it stood when the program was built.
std::string_view EmbeddedSampleMachine();

}  // namespace dormex
