#pragma once

#include <string>

namespace dormex {

struct ConstraintAnalysis;
struct DeviceMatch;

// Every rule of the chosen OS entry with its devices, then the unmatched.
std::string BuildRuleMatchList(const ConstraintAnalysis& analysis);
std::string DeviceMatchText(const DeviceMatch& match);

}  // namespace dormex
