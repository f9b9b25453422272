#pragma once

#include <ostream>
#include <string>

namespace dormex {

class FileSystem;

// Loads and validates one rule file as a run would, and compiles every
// pattern of it. Writes the run's log entries, each invalid pattern and a
// verdict to `out`; returns true when the file has no problem.
bool CheckRuleFile(const std::string& path, std::ostream& out, FileSystem& files);

}  // namespace dormex
