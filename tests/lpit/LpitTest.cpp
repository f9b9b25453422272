#include <gtest/gtest.h>

#include "TestPlatform.h"
#include "lpit/Lpit.h"
#include "report/MachineSections.h"

namespace dormex {
namespace {

// Little-endian bytes as hex.
std::string Hex(uint64_t value, int bytes)
{
    std::string hex;
    for (int i = 0; i < bytes; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>((value >> (8 * i)) & 0xFF));
        hex += pair;
    }
    return hex;
}

std::string Text(const std::string& chars)
{
    std::string hex;
    for (char c : chars) {
        hex += Hex(static_cast<uint8_t>(c), 1);
    }
    return hex;
}

// The 36-byte header with its length field and six bytes of OEM id;
// checksum 0x4f.
std::string Header(uint32_t length, const std::string& oemId = "ABCDEF")
{
    return Text("LPIT") + Hex(length, 4) + Hex(1, 1) + Hex(0x4f, 1) + Text(oemId) +
           Text("ABCDEFGH") + Hex(2, 4) + Text("TBRK") + Hex(0x00010013, 4);
}

std::string Address(uint8_t space, uint8_t width, uint8_t offset, uint8_t access, uint64_t address)
{
    return Hex(space, 1) + Hex(width, 1) + Hex(offset, 1) + Hex(access, 1) + Hex(address, 8);
}

// One 56-byte descriptor: an FFH entry trigger at 0x632, residency 30000,
// latency 3000, a counter above 4 GiB at 19.2 MHz.
std::string Descriptor(uint32_t flags)
{
    return Hex(0, 4) + Hex(56, 4) + Hex(1, 2) + Hex(0, 2) + Hex(flags, 4) +
           Address(0x7f, 64, 0, 4, 0x632) + Hex(30000, 4) + Hex(3000, 4) +
           Address(0, 64, 0, 4, 0xab0000000600) + Hex(19200000, 8);
}

struct Read {
    test::TestMachine machine;
    LpitTable table;
    int32_t status;

    explicit Read(const std::string& members)
        : machine(R"({"format": "dormex-machine/1")" + members + "}")
    {
        machine.CaptureLog();
        status = ReadLpit(table, machine.State.Log, machine.Services.firmwareTables);
    }
    std::string Log() const { return machine.DebugLogText(); }
};

std::string Table(const std::string& hex)
{
    return R"(, "firmwareTables": {"LPIT": ")" + hex + "\"}";
}

TEST(ReadLpit, CountFollowsTheBytesReturned)
{
    // Whatever the header's length says; 28 bytes left over are no descriptor.
    const std::pair<std::string, int> cases[] = {
        {Header(36), 0},
        {Header(120) + Descriptor(1) + std::string(56, '0'), 1},
        {Header(999) + Descriptor(1) + Descriptor(2), 2},
    };
    for (const auto& [hex, count] : cases) {
        Read read(Table(hex));
        EXPECT_EQ(read.status, 0) << hex;
        EXPECT_EQ(read.table.DescriptorCount, count);
        EXPECT_EQ(read.table.Descriptors.size(), static_cast<size_t>(count));
    }
}

// The report shows the table as read; no zero byte, and UTF-8, whatever the
// firmware put in its text fields (the scenarios show an id padded with zero
// bytes).
TEST(ReadLpit, TheReportShowsTheTableAsRead)
{
    Read read(Table(Header(999, "A<B&\x01\xE9") + Descriptor(0) + Descriptor(0x1a)));
    ASSERT_EQ(read.status, 0);
    const std::string html = BuildLpitSection(read.table, "", read.machine.State.Log);
    for (const std::string part :
         {"LPIT Descriptor 1</th><tr><td class=\"title\">Flags</td><td class=\"data\">0x1a</td>"
          "</tr><tr><td class=\"title\">Entry Trigger</td><td class=\"data\">0x7f, 64, 0, 0x4, "
          "0x632</td></tr><tr><td class=\"title\">Residency(ms)</td><td class=\"data\">30000</td>"
          "</tr><tr><td class=\"title\">Latency(ms)</td><td class=\"data\">3000</td></tr><tr><td "
          "class=\"title\">Res Ctr</td><td class=\"data\">0x0, 64, 0, 0x4, 0xab0000000600</td>"
          "</tr><tr><td class=\"title\">Ctr Freq</td><td class=\"data\">19200000</td></tr>",
          "Length (bytes)</td><td class=\"data\">999<", "Checksum</td><td class=\"data\">0x4f<",
          "OEM Id</td><td class=\"data\">A&lt;B&amp;?"
          "?</td>",
          "OEM Table Id</td><td class=\"data\">ABCDEFGH<", "OEM Revision</td><td class=\"data\">2<",
          "Creator Id</td><td class=\"data\">TBRK<",
          "Creator Revision</td><td class=\"data\">0x10013<"}) {
        EXPECT_NE(html.find(part), std::string::npos) << part << "\nin\n" << html;
    }
}

// No table and a table that grows are in the end-to-end scenarios.
TEST(ReadLpit, ATableShorterThanItsHeaderIsRefused)
{
    Read read(Table("4c504954"));
    EXPECT_EQ(read.status, 1628);
    EXPECT_EQ(read.Log(), "\nERROR:: Table recieved for firmware is INVALID. :: Error code: 1628");
    EXPECT_TRUE(read.table.Descriptors.empty());
    EXPECT_EQ(read.table.Length, 0u);
}

}  // namespace
}  // namespace dormex
