#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace dormex {

class DebugLog;
class FirmwareTables;

// ACPI generic address structure.
struct GenericAddress {
    uint8_t AddressSpaceId = 0;
    uint8_t RegisterBitWidth = 0;
    uint8_t RegisterBitOffset = 0;
    uint8_t AccessSize = 0;
    uint64_t Address = 0;
};

// An LPIT native C-state descriptor, read from its 56 bytes as they are.
struct LpitDescriptor {
    uint32_t Type = 0;
    uint32_t Length = 0;
    uint16_t UniqueId = 0;
    uint16_t Reserved = 0;
    uint32_t Flags = 0;
    GenericAddress EntryTrigger;
    uint32_t Residency = 0;
    uint32_t Latency = 0;
    GenericAddress ResidencyCounter;
    uint64_t ResidencyCounterFrequency = 0;
};

// The table as the firmware returned it: the 36-byte header with its fields
// and every whole descriptor after it. Nothing is validated.
struct LpitTable {
    std::array<char, 4> Signature{};
    uint32_t Length = 0;
    uint8_t Revision = 0;
    uint8_t Checksum = 0;
    std::array<char, 6> OemId{};
    std::array<char, 8> OemTableId{};
    uint32_t OemRevision = 0;
    std::array<char, 4> CreatorId{};
    uint32_t CreatorRevision = 0;
    int32_t DescriptorCount = 0;
    std::vector<LpitDescriptor> Descriptors;
};

inline constexpr uint32_t LpitHeaderSize = 36;
inline constexpr uint32_t LpitDescriptorSize = 56;

// 0, ErrorNotSupported (no table), ErrorNotEnoughMemory (no memory) or
// FirmwareTableInconsistent (inconsistent table).
int32_t ReadLpit(LpitTable& table, DebugLog& log, FirmwareTables& firmware);

}  // namespace dormex
