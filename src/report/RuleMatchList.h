#pragma once

#include <ostream>
#include <string>

namespace dormex {

struct ConstraintAnalysis;
struct DeviceMatch;

// Every rule of the chosen OS entry with its devices, then the unmatched.
void WriteRuleMatchList(std::ostream& out, const ConstraintAnalysis& analysis);
std::string DeviceMatchText(const DeviceMatch& match);

}  // namespace dormex
