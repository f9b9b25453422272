#include "report/MachineSections.h"

#include "common/Text.h"
#include "log/DebugLog.h"
#include "lpit/Lpit.h"
#include "report/Html.h"
#include "report/HtmlFragments.h"
#include "sysinfo/SystemInfo.h"

namespace dormex {

namespace {

// A fixed-length ASCII field of the table up to its first zero byte, which
// pads it; any other byte that is not printable ASCII shows as '?', so that
// the page stays UTF-8.
template <size_t N>
std::string Chars(const std::array<char, N>& chars)
{
    std::string text;
    for (char c : chars) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0) {
            break;
        }
        text += byte >= 0x20 && byte < 0x7F ? c : '?';
    }
    return HtmlEscape(text);
}

// A row of a title cell and a data cell; `value` is already HTML.
void AppendTitledRow(std::string& html, std::string_view title, std::string_view value)
{
    html += "<tr><td class=\"title\">";
    html += title;
    html += "</td>";
    html += html::DataCell;
    html += value;
    html += "</td></tr>";
}

// A two-column table: a caption row (left open, as the next row closes it)
// and one row per (title, value).
std::string TwoColumnTable(const std::string& caption,
                           std::initializer_list<std::pair<const char*, std::string>> rows)
{
    std::string html = "<table><tr><th class=\"header\" colspan=\"2\">" + caption + "</th>";
    for (const auto& [title, value] : rows) {
        AppendTitledRow(html, title, value);
    }
    html += "</table>";
    return html;
}

std::string HeaderTable(const LpitTable& table, DebugLog& log)
{
    log.WriteLog(LogLevel::Information, "Printing LPIT table header!!", 0);
    return TwoColumnTable("LPIT Header",
                          {{"Signature", Chars(table.Signature)},
                           {"Length (bytes)", std::to_string(table.Length)},
                           {"Revision", std::to_string(table.Revision)},
                           {"Checksum", "0x" + NumberAsHex(table.Checksum)},
                           {"OEM Id", Chars(table.OemId)},
                           {"OEM Table Id", Chars(table.OemTableId)},
                           {"OEM Revision", std::to_string(table.OemRevision)},
                           {"Creator Id", Chars(table.CreatorId)},
                           {"Creator Revision", "0x" + NumberAsHex(table.CreatorRevision)}});
}

std::string DescriptorTable(const LpitTable& table, int32_t index, DebugLog& log)
{
    log.WriteLog(LogLevel::Information, "Printing LPIT descriptor!!", 0);
    const LpitDescriptor& descriptor = table.Descriptors[static_cast<size_t>(index)];
    return TwoColumnTable("LPIT Descriptor " + std::to_string(index),
                          {{"Flags", "0x" + NumberAsHex(descriptor.Flags)},
                           {"Entry Trigger", GenericAddressText(descriptor.EntryTrigger)},
                           {"Residency(ms)", std::to_string(descriptor.Residency)},
                           {"Latency(ms)", std::to_string(descriptor.Latency)},
                           {"Res Ctr", GenericAddressText(descriptor.ResidencyCounter)},
                           {"Ctr Freq", std::to_string(descriptor.ResidencyCounterFrequency)}});
}

}  // namespace

SystemInfoRows BuildSystemInfoRows(const SystemInfo& system)
{
    return {{
        {"F/M/S", "Family " + std::to_string(system.CpuFamily) + " Model " +
                      std::to_string(system.CpuModel) + " Stepping " +
                      std::to_string(system.CpuStepping)},
        {"BIOS Vendor", system.BiosVendor},
        {"BIOS Version", system.BiosVersion},
        {"BIOS Date", system.BiosReleaseDate},
        {"S0 Idle", system.AoAc ? "Supported" : "Not-Supported"},
        {"OS Version", system.OsBuild},
    }};
}

std::string BuildSystemInfoSection(const SystemInfoRows& rows)
{
    std::string html(html::CardStart);
    html += "<section><div class=\"sysinfoentry\"><table>";
    for (const SystemInfoRow& row : rows) {
        AppendTitledRow(html, row.Title, HtmlEscape(row.Value));
    }
    html += "</table></div></section></div></article>";
    return html;
}

std::string BuildLpitSection(const LpitTable& table, const std::string& statusText, DebugLog& log)
{
    std::string html = "<h3>LPIT Information</h3>" + HtmlEscape(statusText);
    if (!statusText.empty()) {
        return html;
    }
    for (size_t i = 0; i < table.Descriptors.size(); ++i) {
        html += "<div class=\"lpit\">";
        html += DescriptorTable(table, static_cast<int32_t>(i), log);
        html += "</div>";
    }
    html += "<div class=\"lpitH\">";
    html += HeaderTable(table, log);
    html += "</div>";
    return html;
}

std::string GenericAddressText(const GenericAddress& address)
{
    return "0x" + NumberAsHex(address.AddressSpaceId) + ", " +
           std::to_string(address.RegisterBitWidth) + ", " +
           std::to_string(address.RegisterBitOffset) + ", 0x" + NumberAsHex(address.AccessSize) +
           ", 0x" + NumberAsHex(address.Address);
}

}  // namespace dormex
