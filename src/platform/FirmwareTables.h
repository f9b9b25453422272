#pragma once

#include <cstdint>

namespace dormex {

// 'ACPI' and 'LPIT' as GetSystemFirmwareTable takes them.
inline constexpr uint32_t FirmwareProviderAcpi = 0x41435049;
inline constexpr uint32_t AcpiTableLpit = 0x5449504C;

class FirmwareTables {
public:
    virtual ~FirmwareTables() = default;

    // GetSystemFirmwareTable: the bytes needed or written, 0 when the table
    // is absent or the call fails. With buffer == nullptr and size 0 it
    // returns the size needed.
    virtual uint32_t GetSystemFirmwareTable(uint32_t provider, uint32_t tableId, void* buffer,
                                            uint32_t bufferSize) = 0;
};

}  // namespace dormex
