#include "lpit/Lpit.h"

#include <span>
#include <string>

#include "common/Bytes.h"
#include "common/Memory.h"
#include "common/StatusCodes.h"
#include "log/DebugLog.h"
#include "platform/FirmwareTables.h"

namespace dormex {

namespace {

constexpr int32_t NotPresent = AsStatus(ErrorNotSupported);
constexpr int32_t NoMemory = AsStatus(ErrorNotEnoughMemory);

using ByteView = std::span<const uint8_t>;

template <size_t N>
std::array<char, N> Chars(ByteView bytes, size_t offset)
{
    std::array<char, N> chars{};
    for (size_t i = 0; i < N; ++i) {
        chars[i] = static_cast<char>(ReadU8(bytes, offset + i));
    }
    return chars;
}

GenericAddress Address(ByteView bytes, size_t offset)
{
    return {ReadU8(bytes, offset), ReadU8(bytes, offset + 1), ReadU8(bytes, offset + 2),
            ReadU8(bytes, offset + 3), ReadU64(bytes, offset + 4)};
}

void ReadHeader(ByteView header, LpitTable& table)
{
    table.Signature = Chars<4>(header, 0);
    table.Length = ReadU32(header, 4);
    table.Revision = ReadU8(header, 8);
    table.Checksum = ReadU8(header, 9);
    table.OemId = Chars<6>(header, 10);
    table.OemTableId = Chars<8>(header, 16);
    table.OemRevision = ReadU32(header, 24);
    table.CreatorId = Chars<4>(header, 28);
    table.CreatorRevision = ReadU32(header, 32);
}

LpitDescriptor ReadDescriptor(ByteView bytes)
{
    LpitDescriptor descriptor;
    descriptor.Type = ReadU32(bytes, 0);
    descriptor.Length = ReadU32(bytes, 4);
    descriptor.UniqueId = ReadU16(bytes, 8);
    descriptor.Reserved = ReadU16(bytes, 10);
    descriptor.Flags = ReadU32(bytes, 12);
    descriptor.EntryTrigger = Address(bytes, 16);
    descriptor.Residency = ReadU32(bytes, 28);
    descriptor.Latency = ReadU32(bytes, 32);
    descriptor.ResidencyCounter = Address(bytes, 36);
    descriptor.ResidencyCounterFrequency = ReadU64(bytes, 48);
    return descriptor;
}

}  // namespace

int32_t ReadLpit(LpitTable& table, DebugLog& log, FirmwareTables& firmware)
{
    uint32_t size =
        firmware.GetSystemFirmwareTable(FirmwareProviderAcpi, AcpiTableLpit, nullptr, 0);
    if (size == 0) {
        log.WriteLog(LogLevel::Error, "System Frimware Table not present.", NotPresent);
        return NotPresent;
    }
    auto buffer = TryAllocate<uint8_t>(size);
    if (!buffer) {
        log.WriteLog(LogLevel::Error, "Cannot allocate memoy for System firmware table.", NoMemory);
        return NoMemory;
    }
    uint32_t returned =
        firmware.GetSystemFirmwareTable(FirmwareProviderAcpi, AcpiTableLpit, buffer->data(), size);
    // More bytes than the buffer holds, or fewer than a header: not a table to read.
    if (returned > size || returned < LpitHeaderSize) {
        log.WriteLog(LogLevel::Error, "Table recieved for firmware is INVALID.",
                     FirmwareTableInconsistent);
        return FirmwareTableInconsistent;
    }

    const ByteView image(buffer->data(), returned);
    ReadHeader(image, table);
    table.DescriptorCount = static_cast<int32_t>((returned - LpitHeaderSize) / LpitDescriptorSize);
    log.WriteLog(LogLevel::Information,
                 "number of Descriptiors: " + std::to_string(table.DescriptorCount) +
                     "number of bytes returned: " + std::to_string(returned) +
                     " size(header/Descriptor) 36/56",
                 0);
    log.WriteLog(LogLevel::Information,
                 " Number of Descriptors in LPIT: " + std::to_string(table.DescriptorCount), 0);
    for (int32_t i = 0; i < table.DescriptorCount; ++i) {
        size_t offset = LpitHeaderSize + LpitDescriptorSize * static_cast<size_t>(i);
        table.Descriptors.push_back(ReadDescriptor(image.subspan(offset, LpitDescriptorSize)));
    }
    log.WriteLog(LogLevel::Information, "LPIT table loaded successfully!!", 0);
    return 0;
}

}  // namespace dormex
