#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dormex {

struct Platform;
struct RunState;

// The whole run: `arguments` are the command-line arguments after the program
// name. Returns the exit status.
int32_t RunDormex(const std::vector<std::string>& arguments, RunState& state, Platform& platform);

}  // namespace dormex
