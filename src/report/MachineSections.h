#pragma once

#include <array>
#include <string>

namespace dormex {

class DebugLog;
struct GenericAddress;
struct LpitTable;
struct SystemInfo;

// The six (title, value) rows of the system-information card.
struct SystemInfoRow {
    const char* Title;
    std::string Value;
};
using SystemInfoRows = std::array<SystemInfoRow, 6>;

SystemInfoRows BuildSystemInfoRows(const SystemInfo& system);
std::string BuildSystemInfoSection(const SystemInfoRows& rows);

// The LPIT tables, or the status text in their place.
std::string BuildLpitSection(const LpitTable& table, const std::string& statusText, DebugLog& log);
std::string GenericAddressText(const GenericAddress& address);

}  // namespace dormex
