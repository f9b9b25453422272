#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dormex {

// The whole UTF-16LE units of `bytes`, zero units included; an odd last byte
// is left out.
std::u16string DecodeUtf16Le(std::span<const uint8_t> bytes);

// The UTF-16LE text from `offset` up to its first zero unit or its last whole
// unit; empty when `offset` is past the end.
std::u16string Utf16LeTextAt(std::span<const uint8_t> bytes, size_t offset);

// Each unit as two bytes, low byte first, without a terminator.
std::vector<uint8_t> EncodeUtf16Le(std::u16string_view text);

// Writes `text` as EncodeUtf16Le does from `offset` on; a unit that does not
// fit whole is left out, with every unit after it.
void WriteUtf16Le(std::span<uint8_t> bytes, size_t offset, std::u16string_view text);

// UTF-8 text to UTF-16: a code point below U+10000 becomes one unit, others
// a surrogate pair. Bytes that are not UTF-8 pass through one unit each.
std::u16string Utf8ToUtf16(std::string_view utf8);

// UTF-16 text to UTF-8; a unit that is half of no surrogate pair becomes
// U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);
// The same, added to the end of `utf8`.
void AppendUtf8(std::string& utf8, std::u16string_view utf16);
// The same for the whole UTF-16LE units of `bytes`, as DecodeUtf16Le reads them.
void AppendUtf8OfUtf16Le(std::string& utf8, std::span<const uint8_t> bytes);

// How many whole UTF-16 units of `bytes` come before the first zero unit:
// all of them when none is zero.
size_t UnitsBeforeZero(std::span<const uint8_t> bytes);

// A number read as strtol(text, nullptr, 10) reads it: leading white space, an
// optional sign, digits up to the first other character, 0 without digits.
// Values beyond 32 bits are clamped, as with a 32-bit long.
int32_t ReadDecimal(std::string_view text);

// A number read as strtol(text, nullptr, 0) reads it: after leading white
// space and a sign, 0x or 0X selects hexadecimal, a leading 0 octal, anything
// else decimal; reading stops at the first character that does not fit.
// Clamped to 32 bits like ReadDecimal.
int32_t ReadNumberAutoBase(std::string_view text);

// Each byte as two lower-case hexadecimal digits, without separators.
std::string BytesAsHex(std::span<const uint8_t> bytes);

// A number in lower-case hex digits, without a prefix or leading zeros.
std::string NumberAsHex(uint64_t value);

// The value of a hexadecimal digit of either case, or nothing.
std::optional<uint8_t> HexDigitValue(char c);

// Words separated by runs of blanks, as a tokenizer with the delimiter " ".
std::vector<std::string> SplitWords(std::string_view text);

// ASCII letters lower-cased, every other byte kept.
constexpr char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string AsciiLower(std::string_view text);

// Natural order: runs of digits compare as numbers ("D34" before "D234",
// "1.9" before "1.10"), the rest byte by byte.
bool NaturalLess(std::string_view left, std::string_view right);

// Text up to its first zero byte.
std::string TextUpToZero(const std::vector<char>& bytes);

}  // namespace dormex
