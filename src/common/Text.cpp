#include "common/Text.h"

#include <bit>
#include <cctype>
#include <charconv>
#include <cstring>
#include <limits>

#include "common/Bytes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dormex {

namespace {

// ReadU16 without its bounds check: the callers stop two bytes short of the
// end themselves, and this is every unit of every text.
char16_t Utf16LeUnitAt(std::span<const uint8_t> bytes, size_t offset)
{
    return static_cast<char16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

}  // namespace

std::u16string DecodeUtf16Le(std::span<const uint8_t> bytes)
{
    std::u16string text(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        text[i] = Utf16LeUnitAt(bytes, 2 * i);
    }
    return text;
}

std::u16string Utf16LeTextAt(std::span<const uint8_t> bytes, size_t offset)
{
    size_t end = offset;
    while (end < bytes.size() && bytes.size() - end >= 2 && Utf16LeUnitAt(bytes, end) != 0) {
        end += 2;
    }
    return end > offset ? DecodeUtf16Le(bytes.subspan(offset, end - offset)) : std::u16string();
}

std::vector<uint8_t> EncodeUtf16Le(std::u16string_view text)
{
    std::vector<uint8_t> bytes(2 * text.size());
    WriteUtf16Le(bytes, 0, text);
    return bytes;
}

void WriteUtf16Le(std::span<uint8_t> bytes, size_t offset, std::u16string_view text)
{
    for (size_t i = 0;
         i < text.size() && offset < bytes.size() && 2 * i + 1 < bytes.size() - offset; ++i) {
        WriteU16(bytes, offset + 2 * i, text[i]);
    }
}

std::u16string Utf8ToUtf16(std::string_view utf8)
{
    std::u16string wide;
    wide.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        auto byte = [&](size_t k) { return static_cast<unsigned char>(utf8[k]); };
        unsigned char lead = byte(i);
        size_t length = lead < 0x80           ? 1
                        : (lead >> 5) == 0x6  ? 2
                        : (lead >> 4) == 0xE  ? 3
                        : (lead >> 3) == 0x1E ? 4
                                              : 0;
        bool valid = length != 0 && i + length <= utf8.size();
        for (size_t k = 1; valid && k < length; ++k) {
            valid = (byte(i + k) & 0xC0) == 0x80;
        }
        if (!valid) {
            wide.push_back(lead);
            ++i;
            continue;
        }
        char32_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            codePoint = codePoint << 6 | (byte(i + k) & 0x3F);
        }
        if (codePoint < 0x10000) {
            wide.push_back(static_cast<char16_t>(codePoint));
        } else {
            codePoint -= 0x10000;
            wide.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
            wide.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
        }
        i += length;
    }
    return wide;
}

namespace {

// UTF-16LE bytes read unit by unit, as a u16string_view is.
struct Utf16LeUnits {
    std::span<const uint8_t> bytes;
    size_t size() const { return bytes.size() / 2; }
    char16_t operator[](size_t i) const { return Utf16LeUnitAt(bytes, 2 * i); }
    const void* data() const { return bytes.data(); }
};

// Copies the ASCII units at the start of `utf16` to `out`, a byte each, and
// says how many there were. Where the machine keeps UTF-16 low byte first,
// as the platform's answers are, they go a block at a time: eight units
// where SSE2 is there, then four.
template <typename Units>
size_t PackAscii(const Units& utf16, char* out)
{
    const size_t units = utf16.size();
    size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        const auto* bytes =
            static_cast<const unsigned char*>(static_cast<const void*>(utf16.data()));
#if defined(__SSE2__)
        for (; units - i >= 8; i += 8) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 2 * i));
            const __m128i high = _mm_and_si128(block, _mm_set1_epi16(static_cast<short>(0xFF80)));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xFFFF) {
                break;
            }
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(block, block));
        }
#endif
        for (; units - i >= 4; i += 4) {
            uint64_t block;
            std::memcpy(&block, bytes + 2 * i, sizeof block);
            if ((block & 0xFF80FF80FF80FF80) != 0) {
                break;
            }
            // The four low bytes, moved side by side.
            block = (block | block >> 8) & 0x0000FFFF0000FFFF;
            const auto packed = static_cast<uint32_t>(block | block >> 16);
            std::memcpy(out + i, &packed, sizeof packed);
        }
    }
    for (; i < units && utf16[i] < 0x80; ++i) {
        out[i] = static_cast<char>(utf16[i]);
    }
    return i;
}

// The code point at `i`, stepping `i` over a surrogate pair; a lone
// surrogate is U+FFFD.
template <typename Units>
char32_t CodePointAt(const Units& utf16, size_t& i)
{
    char32_t codePoint = utf16[i];
    bool high = codePoint >= 0xD800 && codePoint < 0xDC00;
    if (high && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] < 0xE000) {
        return 0x10000 + ((codePoint - 0xD800) << 10) + (utf16[++i] - 0xDC00);
    }
    return codePoint >= 0xD800 && codePoint < 0xE000 ? 0xFFFD : codePoint;
}

size_t Utf8Size(char32_t codePoint)
{
    return codePoint < 0x80 ? 1 : codePoint < 0x800 ? 2 : codePoint < 0x10000 ? 3 : 4;
}

template <typename Units>
void AppendUtf8Of(std::string& utf8, const Units& utf16)
{
    // Most text is ASCII, a byte a unit: room for that is made first, and
    // the units are copied into it while they are ASCII.
    const size_t start = utf8.size();
    utf8.resize(start + utf16.size());
    const size_t ascii = PackAscii(utf16, utf8.data() + start);
    if (ascii == utf16.size()) {
        return;
    }
    // The rest is measured, so that the text grows once more, to its size.
    size_t size = ascii;
    for (size_t i = ascii; i < utf16.size(); ++i) {
        size += utf16[i] < 0x80 ? 1 : Utf8Size(CodePointAt(utf16, i));
    }
    utf8.resize(start + size);
    char* out = utf8.data() + start + ascii;
    auto put = [&out](char32_t byte) { *out++ = static_cast<char>(byte); };
    for (size_t i = ascii; i < utf16.size(); ++i) {
        if (utf16[i] < 0x80) {
            put(utf16[i]);
            continue;
        }
        const char32_t codePoint = CodePointAt(utf16, i);
        switch (Utf8Size(codePoint)) {
        case 2:
            put(0xC0 | codePoint >> 6);
            break;
        case 3:
            put(0xE0 | codePoint >> 12);
            put(0x80 | (codePoint >> 6 & 0x3F));
            break;
        default:
            put(0xF0 | codePoint >> 18);
            put(0x80 | (codePoint >> 12 & 0x3F));
            put(0x80 | (codePoint >> 6 & 0x3F));
            break;
        }
        put(0x80 | (codePoint & 0x3F));
    }
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view utf16)
{
    std::string utf8;
    AppendUtf8Of(utf8, utf16);
    return utf8;
}

void AppendUtf8(std::string& utf8, std::u16string_view utf16)
{
    AppendUtf8Of(utf8, utf16);
}

void AppendUtf8OfUtf16Le(std::string& utf8, std::span<const uint8_t> bytes)
{
    AppendUtf8Of(utf8, Utf16LeUnits{bytes});
}

size_t UnitsBeforeZero(std::span<const uint8_t> bytes)
{
    // A zero unit is two zero bytes at an even place, whatever the byte order.
    const size_t units = bytes.size() / 2;
    size_t i = 0;
#if defined(__SSE2__)
    for (; units - i >= 8; i += 8) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&bytes[2 * i]));
        const auto zero =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(block, _mm_setzero_si128())));
        if (zero != 0) {
            return i + static_cast<size_t>(std::countr_zero(zero)) / 2;
        }
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
        // Four units at a time: a unit is flagged when it is zero (x - 1
        // borrows into its high bit, which x lacks); the lowest flag is exact.
        for (; units - i >= 4; i += 4) {
            uint64_t block;
            std::memcpy(&block, &bytes[2 * i], sizeof block);
            const uint64_t zero = (block - 0x0001000100010001) & ~block & 0x8000800080008000;
            if (zero != 0) {
                return i + static_cast<size_t>(std::countr_zero(zero)) / 16;
            }
        }
    }
    while (i < units && (bytes[2 * i] | bytes[2 * i + 1]) != 0) {
        ++i;
    }
    return i;
}

namespace {

int DigitValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

// strtol with base 10, 8 or 16 and 0 for automatic detection, clamped to the
// range of a 32-bit long.
int32_t ReadNumber(std::string_view text, int base)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (base == 0) {
        bool hexPrefix = i + 2 < text.size() && text[i] == '0' &&
                         (text[i + 1] == 'x' || text[i + 1] == 'X') && DigitValue(text[i + 2]) < 16;
        if (hexPrefix) {
            base = 16;
            i += 2;
        } else {
            base = (i < text.size() && text[i] == '0') ? 8 : 10;
        }
    }
    constexpr int64_t limit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t value = 0;
    for (; i < text.size() && DigitValue(text[i]) < base; ++i) {
        if (value < limit) {
            value = value * base + DigitValue(text[i]);
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    if (value < std::numeric_limits<int32_t>::min()) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(value);
}

}  // namespace

int32_t ReadDecimal(std::string_view text)
{
    return ReadNumber(text, 10);
}

int32_t ReadNumberAutoBase(std::string_view text)
{
    return ReadNumber(text, 0);
}

std::string BytesAsHex(std::span<const uint8_t> bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
}

std::optional<uint8_t> HexDigitValue(char c)
{
    int value = DigitValue(c);
    return value < 16 ? std::optional<uint8_t>(static_cast<uint8_t>(value)) : std::nullopt;
}

std::vector<std::string> SplitWords(std::string_view text)
{
    std::vector<std::string> words;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t start = text.find_first_not_of(' ', pos);
        if (start == std::string_view::npos) {
            break;
        }
        size_t end = text.find(' ', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        words.emplace_back(text.substr(start, end - start));
        pos = end;
    }
    return words;
}

bool NaturalLess(std::string_view left, std::string_view right)
{
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    size_t i = 0;
    size_t j = 0;
    while (i < left.size() && j < right.size()) {
        if (isDigit(left[i]) && isDigit(right[j])) {
            // Leading zeros aside, the longer run of digits is the larger number.
            size_t a = i;
            size_t b = j;
            while (a < left.size() && left[a] == '0') {
                ++a;
            }
            while (b < right.size() && right[b] == '0') {
                ++b;
            }
            size_t endA = a;
            size_t endB = b;
            while (endA < left.size() && isDigit(left[endA])) {
                ++endA;
            }
            while (endB < right.size() && isDigit(right[endB])) {
                ++endB;
            }
            const std::string_view numberA = left.substr(a, endA - a);
            const std::string_view numberB = right.substr(b, endB - b);
            if (numberA.size() != numberB.size()) {
                return numberA.size() < numberB.size();
            }
            if (numberA != numberB) {
                return numberA < numberB;
            }
            i = endA;
            j = endB;
        } else {
            if (left[i] != right[j]) {
                return static_cast<unsigned char>(left[i]) < static_cast<unsigned char>(right[j]);
            }
            ++i;
            ++j;
        }
    }
    return left.size() - i < right.size() - j;
}

std::string AsciiLower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower) {
        c = AsciiLower(c);
    }
    return lower;
}

std::string TextUpToZero(const std::vector<char>& bytes)
{
    std::string text(bytes.begin(), bytes.end());
    size_t zero = text.find('\0');
    if (zero != std::string::npos) {
        text.resize(zero);
    }
    return text;
}

std::string NumberAsHex(uint64_t value)
{
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
    return std::string(digits, end);
}

}  // namespace dormex
