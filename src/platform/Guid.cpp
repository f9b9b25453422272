#include "platform/Guid.h"

#include <cstdio>

#include "common/Text.h"

namespace dormex {

std::optional<Guid> ParseGuid(std::string_view text)
{
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
        text = text.substr(1, 36);
    }
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
        text[23] != '-') {
        return std::nullopt;
    }
    std::array<uint8_t, 16> bytes{};
    size_t count = 0;
    int high = -1;
    for (char c : text) {
        if (c == '-') {
            continue;
        }
        std::optional<uint8_t> value = HexDigitValue(c);
        if (!value) {
            return std::nullopt;
        }
        if (high < 0) {
            high = *value;
        } else {
            bytes[count++] = static_cast<uint8_t>(high << 4 | *value);
            high = -1;
        }
    }
    Guid guid;
    guid.Data1 =
        uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
    guid.Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
    guid.Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
    for (size_t i = 0; i < 8; ++i) {
        guid.Data4[i] = bytes[8 + i];
    }
    return guid;
}

std::string GuidText(const Guid& guid)
{
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

}  // namespace dormex
