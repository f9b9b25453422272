#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lab/RunRecords.h"

namespace dormex {

// One run laid out for the people who act on it: the machine and the run at
// the top, then its findings in groups (by who is asked to act, by device or
// by kind), each finding with expected against actual states per LPIT state,
// the device manager's words for a problem code, the rule and what to change.
enum class ShowFormat { Text, Markdown, Json, Html };
enum class ShowGrouping { Owner, Device, Kind };

std::optional<ShowFormat> ParseShowFormat(std::string_view name);
std::optional<ShowGrouping> ParseShowGrouping(std::string_view name);

std::string FormatShow(const RunRecord& run, ShowFormat format, ShowGrouping grouping);

// The Markdown for one owner of a run's findings (the BIOS, or a driver
// vendor by provider name), ready to paste into a tracker: split into
// numbered files when one would pass TrackerCommentLimit.
struct Packet {
    std::string Owner;
    std::string FileName;  // "BIOS.md", "driver-Halvorsen-Systems-2-of-3.md"
    std::string Text;
    size_t Findings = 0;
};

std::vector<Packet> MakePackets(const RunRecord& run);

// The device manager's text for a problem code ("This device cannot start."),
// empty for a code it has none for.
std::string_view ProblemCodeText(int64_t code);

}  // namespace dormex
