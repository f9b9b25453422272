#include "lpit/Lpit.h"

#include <algorithm>
#include <string>

#include "log/DebugLog.h"
#include "common/Memory.h"
#include "common/StatusCodes.h"
#include "platform/FirmwareTables.h"

namespace dormex {

namespace {

constexpr int32_t NotPresent = AsStatus(ErrorNotSupported);
constexpr int32_t NoMemory = AsStatus(ErrorNotEnoughMemory);

// Little-endian reads within one table image.
class Bytes {
public:
    explicit Bytes(const uint8_t* data) : data_(data) {}
    uint64_t Number(size_t offset, size_t width) const
    {
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i) {
            value |= uint64_t(data_[offset + i]) << (8 * i);
        }
        return value;
    }
    uint8_t U8(size_t offset) const { return data_[offset]; }
    uint16_t U16(size_t offset) const { return static_cast<uint16_t>(Number(offset, 2)); }
    uint32_t U32(size_t offset) const { return static_cast<uint32_t>(Number(offset, 4)); }
    uint64_t U64(size_t offset) const { return Number(offset, 8); }
    template <size_t N>
    std::array<char, N> Chars(size_t offset) const
    {
        std::array<char, N> chars{};
        std::copy_n(data_ + offset, N, reinterpret_cast<uint8_t*>(chars.data()));
        return chars;
    }
    GenericAddress Address(size_t offset) const
    {
        return {U8(offset), U8(offset + 1), U8(offset + 2), U8(offset + 3), U64(offset + 4)};
    }

private:
    const uint8_t* data_;
};

void ReadHeader(const Bytes& header, LpitTable& table)
{
    table.Signature = header.Chars<4>(0);
    table.Length = header.U32(4);
    table.Revision = header.U8(8);
    table.Checksum = header.U8(9);
    table.OemId = header.Chars<6>(10);
    table.OemTableId = header.Chars<8>(16);
    table.OemRevision = header.U32(24);
    table.CreatorId = header.Chars<4>(28);
    table.CreatorRevision = header.U32(32);
}

LpitDescriptor ReadDescriptor(const Bytes& bytes)
{
    LpitDescriptor descriptor;
    descriptor.Type = bytes.U32(0);
    descriptor.Length = bytes.U32(4);
    descriptor.UniqueId = bytes.U16(8);
    descriptor.Reserved = bytes.U16(10);
    descriptor.Flags = bytes.U32(12);
    descriptor.EntryTrigger = bytes.Address(16);
    descriptor.Residency = bytes.U32(28);
    descriptor.Latency = bytes.U32(32);
    descriptor.ResidencyCounter = bytes.Address(36);
    descriptor.ResidencyCounterFrequency = bytes.U64(48);
    return descriptor;
}

}  // namespace

int32_t ReadLpit(LpitTable& table, DebugLog& log, FirmwareTables& firmware)
{
    uint32_t size = firmware.GetSystemFirmwareTable(FirmwareProviderAcpi, AcpiTableLpit, nullptr, 0);
    if (size == 0) {
        log.WriteLog(ERROR, "System Frimware Table not present.", NotPresent);
        return NotPresent;
    }
    auto buffer = TryAllocate<uint8_t>(size);
    if (!buffer) {
        log.WriteLog(ERROR, "Cannot allocate memoy for System firmware table.", NoMemory);
        return NoMemory;
    }
    uint32_t returned =
        firmware.GetSystemFirmwareTable(FirmwareProviderAcpi, AcpiTableLpit, buffer->data(), size);
    // More bytes than the buffer holds, or fewer than a header: not a table to read.
    if (returned > size || returned < LpitHeaderSize) {
        log.WriteLog(ERROR, "Table recieved for firmware is INVALID.", FirmwareTableInconsistent);
        return FirmwareTableInconsistent;
    }

    ReadHeader(Bytes(buffer->data()), table);
    table.DescriptorCount = static_cast<int32_t>((returned - LpitHeaderSize) / LpitDescriptorSize);
    log.WriteLog(INFORMATION,
                 "number of Descriptiors: " + std::to_string(table.DescriptorCount) +
                     "number of bytes returned: " + std::to_string(returned) +
                     " size(header/Descriptor) 36/56",
                 0);
    log.WriteLog(INFORMATION, " Number of Descriptors in LPIT: " + std::to_string(table.DescriptorCount),
                 0);
    for (int32_t i = 0; i < table.DescriptorCount; ++i) {
        size_t offset = LpitHeaderSize + LpitDescriptorSize * static_cast<size_t>(i);
        table.Descriptors.push_back(ReadDescriptor(Bytes(buffer->data() + offset)));
    }
    log.WriteLog(INFORMATION, "LPIT table loaded successfully!!", 0);
    return 0;
}

}  // namespace dormex
