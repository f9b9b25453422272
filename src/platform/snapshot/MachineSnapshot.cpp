#include "platform/snapshot/MachineSnapshot.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <set>
#include <span>
#include <sstream>
#include <type_traits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <nlohmann/json.hpp>

#include "common/FileLimits.h"
#include "common/StrictJson.h"
#include "common/Text.h"
#include "platform/DevicePropertyKeys.h"
#include "platform/TraceProviders.h"

namespace dormex {

namespace {

using Json = nlohmann::json;

// Writes a document in the snapshot's one layout as it goes: two-space
// indentation, a member or an element a line, except that an array of scalars
// (a property pair, a string list) stays on one line and an empty object or
// array is written {} or []. Text that is not UTF-8 does not stop the writer:
// each invalid sequence becomes U+FFFD.
class SnapshotText {
public:
    // The text written so far goes into `sink` whenever a large object or
    // array is between two elements and enough has gathered.
    explicit SnapshotText(std::ostream& sink) : sink_(sink) {}

    // Where the text stands, to go back to when a member turns out to have
    // nothing to say.
    struct Mark {
        size_t size;
        size_t count;
    };

    void BeginObject() { Open('{'); }
    void BeginArray() { Open('['); }
    void End()
    {
        const bool empty = counts_.back() == 0;
        counts_.pop_back();
        if (empty) {
            out_.Append(closers_.back());
        } else {
            *out_.NewLine(false, 2 * counts_.size(), 1) = closers_.back();
            out_.Added(1);
        }
        closers_.pop_back();
    }
    void Key(std::string_view name)
    {
        Element();
        String(name);
        out_.Append(": ");
    }
    // A key the writer itself names, which needs no escapes.
    void PlainKey(std::string_view name)
    {
        char* at = NextElement(name.size() + 4);
        *at = '"';
        std::memcpy(at + 1, name.data(), name.size());
        std::memcpy(at + 1 + name.size(), "\": ", 3);
        out_.Added(name.size() + 4);
    }
    // Starts the next element of the open array.
    void Element() { NextElement(0); }
    // As nlohmann's serializer writes it, which is asked only for text
    // outside ASCII: it checks the UTF-8 and replaces what is invalid.
    void String(std::string_view text)
    {
        // Most texts need no escapes and are copied between their quotes.
        const size_t plain = PlainPrefix(text);
        char* at = out_.Room(text.size() + 2);
        *at = '"';
        std::memcpy(at + 1, text.data(), plain);
        if (plain == text.size()) {
            at[plain + 1] = '"';
            out_.Added(plain + 2);
            return;
        }
        out_.Added(plain + 1);
        EscapedRest(text, plain);
    }
    template <typename Number>
    void Integer(Number number)
    {
        constexpr size_t Digits = 24;  // a sign and the digits of any 64-bit number
        char* at = out_.Room(Digits);
        out_.Added(static_cast<size_t>(std::to_chars(at, at + Digits, number).ptr - at));
    }
    void Bool(bool value) { out_.Append(value ? "true" : "false"); }
    // An array of strings or of integers, on one line.
    template <typename Scalar>
    void Scalars(std::span<const Scalar> values)
    {
        out_.Append('[');
        for (size_t i = 0; i < values.size(); ++i) {
            if (i != 0) {
                out_.Append(", ");
            }
            if constexpr (std::is_integral_v<Scalar>) {
                Integer(values[i]);
            } else {
                String(values[i]);
            }
        }
        out_.Append(']');
    }

    // Called between two elements of an object or array that is not empty:
    // a member that has written one is kept, so nothing before it will be
    // taken back.
    void MayPassOn()
    {
        if (out_.Size() >= PieceSize) {
            PassOn();
        }
    }

    Mark Position() const { return {passed_ + out_.Size(), counts_.empty() ? 0 : counts_.back()}; }
    // Takes back what was written since `mark`, which is after all that went
    // into the sink.
    void Rewind(Mark mark)
    {
        out_.Resize(mark.size - passed_);
        if (!counts_.empty()) {
            counts_.back() = mark.count;
        }
    }
    // Ends the document with a line end, all of it in the sink.
    void Finish()
    {
        out_.Append('\n');
        PassOn();
    }

private:
    static constexpr size_t PieceSize = 1 << 16;
    // The bytes a string holds as they are: printable ASCII but the quote
    // and the backslash.
    static constexpr std::array<bool, 256> PlainCharacters = [] {
        std::array<bool, 256> plain{};
        for (size_t c = 0x20; c < 0x80; ++c) {
            plain[c] = c != '"' && c != '\\';
        }
        return plain;
    }();

    // How many of the eight bytes at `at` are plain characters before the
    // first that is not, found a word at a time. A byte is flagged when its
    // high bit is set, when it is below 0x20, or when it is a quote or a
    // backslash (x ^ c has a zero byte where x has c); of each test, the
    // lowest flag is exact, and that is the one looked at.
    static size_t PlainRun(const char* at)
    {
        uint64_t block;
        std::memcpy(&block, at, sizeof block);
        constexpr uint64_t Ones = 0x0101010101010101;
        constexpr uint64_t Highs = 0x8080808080808080;
        auto below = [](uint64_t word, uint64_t bound) {
            return (word - bound * Ones) & ~word & Highs;
        };
        const uint64_t flagged = (block & Highs) | below(block, 0x20) |
                                 below(block ^ ('"' * Ones), 1) | below(block ^ ('\\' * Ones), 1);
        if (flagged == 0) {
            return 8;
        }
        if constexpr (std::endian::native == std::endian::little) {
            return static_cast<size_t>(std::countr_zero(flagged)) / 8;
        } else {
            return 0;
        }
    }

#if defined(__SSE2__)
    // The same for sixteen bytes at once. As signed bytes, those below 0x20
    // and those from 0x80 on are all less than 0x20.
    static size_t PlainRun16(const char* at)
    {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i flagged =
            _mm_or_si128(_mm_cmplt_epi8(block, _mm_set1_epi8(0x20)),
                         _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('"')),
                                      _mm_cmpeq_epi8(block, _mm_set1_epi8('\\'))));
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(flagged));
        return mask == 0 ? 16 : static_cast<size_t>(std::countr_zero(mask));
    }
#endif

    // How many bytes at the start of `text` are plain characters: a block
    // at a time, and the last few as the final block again. A text shorter
    // than sixteen bytes goes eight at a time.
    static size_t PlainPrefix(std::string_view text)
    {
        const size_t size = text.size();
        size_t i = 0;
#if defined(__SSE2__)
        if (size >= 16) {
            for (; size - i >= 16; i += 16) {
                if (const size_t run = PlainRun16(text.data() + i); run < 16) {
                    return i + run;
                }
            }
            if (i == size) {
                return size;
            }
            const size_t run = PlainRun16(text.data() + size - 16);
            return run == 16 ? size : std::max(i, size - 16 + run);
        }
#endif
        for (; size - i >= 8; i += 8) {
            if (const size_t run = PlainRun(text.data() + i); run < 8) {
                return i + run;
            }
        }
        if (i == size) {
            return size;
        }
        if (size >= 8) {
            // Its bytes before `i` are plain, so the first that is not comes after them.
            const size_t run = PlainRun(text.data() + size - 8);
            return run == 8 ? size : std::max(i, size - 8 + run);
        }
        while (i < size && PlainCharacters[static_cast<unsigned char>(text[i])]) {
            ++i;
        }
        return i;
    }

    // The rest of a string from `from`, where its plain bytes end, with the
    // closing quote; the opening quote and the bytes before `from` are written.
    void EscapedRest(std::string_view text, size_t from);

    // The text not yet passed on. Every byte of a snapshot goes through it,
    // a few at a time, so it is copied into room made beforehand, without
    // the checks and the terminator a std::string keeps up with each time.
    class Pending {
    public:
        size_t Size() const { return size_; }
        std::string_view Text() const { return {buffer_.get(), size_}; }
        // Room for `count` bytes at the end, which Added then takes in.
        char* Room(size_t count)
        {
            if (capacity_ - size_ < count) [[unlikely]] {
                Grow(count);
            }
            return buffer_.get() + size_;
        }
        void Added(size_t count) { size_ += count; }
        void Append(char c)
        {
            *Room(1) = c;
            ++size_;
        }
        void Append(std::string_view text)
        {
            if (!text.empty()) {
                std::memcpy(Room(text.size()), text.data(), text.size());
                size_ += text.size();
            }
        }
        // Begins a line, after a comma when `comma`: the line end and
        // `indent` blanks, copied as a block of 16 when they fit. Gives the
        // room made after them for `extra` bytes, which Added then takes in.
        char* NewLine(bool comma, size_t indent, size_t extra)
        {
            static constexpr std::string_view Blanks = "                ";
            char* at = Room(2 + std::max(indent, Blanks.size()) + extra);
            *at = ',';
            at += comma ? 1 : 0;
            *at++ = '\n';
            if (indent <= Blanks.size()) {
                std::memcpy(at, Blanks.data(), Blanks.size());
            } else {
                std::memset(at, ' ', indent);
            }
            at += indent;
            size_ = static_cast<size_t>(at - buffer_.get());
            return at;
        }
        // Keeps the first `size` bytes only.
        void Resize(size_t size) { size_ = std::min(size, size_); }

    private:
        void Grow(size_t count);

        std::unique_ptr<char[]> buffer_;
        size_t size_ = 0;
        size_t capacity_ = 0;
    };

    void PassOn()
    {
        const std::string_view text = out_.Text();
        sink_.write(text.data(), static_cast<std::streamsize>(text.size()));
        passed_ += text.size();
        out_.Resize(0);
    }

    // The next element's line, with room for `extra` bytes after its indentation.
    char* NextElement(size_t extra)
    {
        return out_.NewLine(counts_.back()++ != 0, 2 * counts_.size(), extra);
    }

    void Open(char opener)
    {
        out_.Append(opener);
        counts_.push_back(0);
        closers_.push_back(opener == '{' ? '}' : ']');
    }

    std::ostream& sink_;
    size_t passed_ = 0;  // bytes that went into the sink
    Pending out_;
    std::vector<size_t> counts_;  // elements written in each open container
    std::string closers_;
};

// Apart, so that the appends around it stay small enough to inline.
void SnapshotText::Pending::Grow(size_t count)
{
    capacity_ = std::max({2 * capacity_, size_ + count, PieceSize});
    auto grown = std::make_unique_for_overwrite<char[]>(capacity_);
    if (size_ != 0) {
        std::memcpy(grown.get(), buffer_.get(), size_);
    }
    buffer_ = std::move(grown);
}

void SnapshotText::EscapedRest(std::string_view text, size_t from)
{
    // The letter that stands for a character after a backslash, where one does.
    static constexpr std::array<char, 0x80> ShortEscapes = [] {
        std::array<char, 0x80> letters{};
        for (auto [c, letter] : {std::pair{'"', '"'},
                                 {'\\', '\\'},
                                 {'\b', 'b'},
                                 {'\f', 'f'},
                                 {'\n', 'n'},
                                 {'\r', 'r'},
                                 {'\t', 't'}}) {
            letters[static_cast<size_t>(c)] = letter;
        }
        return letters;
    }();
    static constexpr char Hex[] = "0123456789abcdef";
    const size_t start = out_.Size() - from - 1;  // where the opening quote is
    // Each turn writes a byte that is not plain, escaped, and the plain ones after it.
    for (size_t i = from; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            out_.Resize(start);
            out_.Append(Json(text).dump(-1, ' ', false, Json::error_handler_t::replace));
            return;
        }
        const size_t plain = PlainPrefix(text.substr(i + 1));
        char* at = out_.Room(6 + plain);
        size_t escaped = 2;
        at[0] = '\\';
        if (const char letter = ShortEscapes[c]; letter != 0) {
            at[1] = letter;
        } else {
            std::memcpy(at + 1, "u00", 3);
            at[4] = Hex[c >> 4];
            at[5] = Hex[c & 0xF];
            escaped = 6;
        }
        std::memcpy(at + escaped, text.data() + i + 1, plain);
        out_.Added(escaped + plain);
        i += 1 + plain;
    }
    out_.Append('"');
}

// Thrown inside the parser only; ParseMachineSnapshot turns it into a result.
struct InvalidMember {
    std::string path;
    std::string message;
};

std::string MemberPath(std::string path, std::string_view name)
{
    AppendJsonMember(path, name);
    return path;
}

std::string IndexPath(std::string path, size_t index)
{
    AppendJsonIndex(path, index);
    return path;
}

[[noreturn]] void Fail(const std::string& path, std::string message)
{
    throw InvalidMember{path, std::move(message)};
}

const char* TypeName(const Json& value)
{
    return value.type_name();
}

void ExpectObject(const Json& value, const std::string& path)
{
    if (!value.is_object()) {
        Fail(path, std::string("expected an object, found ") + TypeName(value));
    }
}

void ExpectArray(const Json& value, const std::string& path)
{
    if (!value.is_array()) {
        Fail(path, std::string("expected an array, found ") + TypeName(value));
    }
}

const std::string& ReadStringRef(const Json& value, const std::string& path)
{
    if (!value.is_string()) {
        Fail(path, std::string("expected a string, found ") + TypeName(value));
    }
    return value.get_ref<const std::string&>();
}

std::string ReadString(const Json& value, const std::string& path)
{
    return ReadStringRef(value, path);
}

bool ReadBool(const Json& value, const std::string& path)
{
    if (!value.is_boolean()) {
        Fail(path, std::string("expected true or false, found ") + TypeName(value));
    }
    return value.get<bool>();
}

int64_t ReadInteger(const Json& value, const std::string& path, int64_t minimum, int64_t maximum)
{
    if (!value.is_number_integer()) {
        Fail(path, std::string("expected an integer, found ") + TypeName(value));
    }
    if (value.is_number_unsigned() && value.get<uint64_t>() > uint64_t(maximum)) {
        Fail(path,
             "integer out of range " + std::to_string(minimum) + " to " + std::to_string(maximum));
    }
    int64_t number = value.get<int64_t>();
    if (number < minimum || number > maximum) {
        Fail(path,
             "integer out of range " + std::to_string(minimum) + " to " + std::to_string(maximum));
    }
    return number;
}

// A Windows status: an unsigned 32-bit value, or a negative one as NTSTATUS
// values are often written.
uint32_t ReadStatus(const Json& value, const std::string& path)
{
    return static_cast<uint32_t>(ReadInteger(value, path, std::numeric_limits<int32_t>::min(),
                                             std::numeric_limits<uint32_t>::max()));
}

std::vector<uint8_t> ReadHex(const Json& value, const std::string& path)
{
    std::string text = ReadString(value, path);
    if (text.size() % 2 != 0) {
        Fail(path, "bad hex: an odd number of digits");
    }
    auto digit = [&](char c) -> uint8_t {
        std::optional<uint8_t> value = HexDigitValue(c);
        if (!value) {
            Fail(path, std::string("bad hex: '") + c + "' is not a hex digit");
        }
        return *value;
    };
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(digit(text[i]) << 4 | digit(text[i + 1])));
    }
    return bytes;
}

// {"hex": "..."} and nothing else.
std::vector<uint8_t> ReadHexObject(const Json& value, const std::string& path)
{
    for (const auto& [name, member] : value.items()) {
        if (name != "hex") {
            Fail(MemberPath(path, name), "unknown member");
        }
    }
    if (!value.contains("hex")) {
        Fail(path, "missing member \"hex\"");
    }
    return ReadHex(value["hex"], MemberPath(path, "hex"));
}

bool WriteHexObject(std::span<const uint8_t> bytes, SnapshotText& text)
{
    text.BeginObject();
    text.PlainKey("hex");
    text.String(BytesAsHex(bytes));
    text.End();
    return true;
}

// One member of a snapshot object: how the loader reads it into the model and
// how the writer writes it from the model. The loader accepts the members of
// the list and no others; the writer writes them in the list's order.
template <typename Model>
struct MemberRule {
    std::string_view name;
    bool required;
    void (*read)(const Json& value, const std::string& path, Model& model);
    // Writes the member's value; false when the model holds nothing the
    // member would say or the value is an empty object or array, and then a
    // member that is not required is left out.
    bool (*write)(const Model& model, SnapshotText& text);
};

template <typename Model, size_t Count>
void ReadMembers(const Json& object, const std::string& path,
                 const MemberRule<Model> (&members)[Count], std::string_view unknownMessage,
                 Model& model)
{
    ExpectObject(object, path);
    for (const MemberRule<Model>& member : members) {
        if (member.required && !object.contains(std::string(member.name))) {
            Fail(path, "missing member \"" + std::string(member.name) + "\"");
        }
    }
    for (const auto& [name, value] : object.items()) {
        std::string memberPath = MemberPath(path, name);
        // A named copy: a lambda may not capture a structured binding before
        // C++20, and clang before 16 refuses it even then.
        const std::string& memberName = name;
        const MemberRule<Model>* member =
            std::find_if(std::begin(members), std::end(members),
                         [&](const MemberRule<Model>& rule) { return rule.name == memberName; });
        if (member == std::end(members)) {
            Fail(memberPath, std::string(unknownMessage));
        }
        member->read(value, memberPath, model);
    }
}

// A map as an object, in the map's order; false when it is empty.
template <typename Key, typename Value, typename WriteValue>
bool WriteMap(const std::map<Key, Value>& map, SnapshotText& text, WriteValue writeValue)
{
    text.BeginObject();
    for (const auto& [key, value] : map) {
        text.MayPassOn();
        if constexpr (std::is_integral_v<Key>) {
            text.Key(std::to_string(key));
        } else {
            text.Key(key);
        }
        writeValue(value, text);
    }
    text.End();
    return !map.empty();
}

template <typename Model, size_t Count>
bool WriteMembers(const Model& model, const MemberRule<Model> (&members)[Count], SnapshotText& text)
{
    text.BeginObject();
    bool any = false;
    for (const MemberRule<Model>& member : members) {
        const SnapshotText::Mark mark = text.Position();
        text.PlainKey(member.name);
        if (member.write(model, text) || member.required) {
            any = true;
        } else {
            text.Rewind(mark);
        }
    }
    text.End();
    return any;
}

// Writes a string, an integer or a bool when it is there.
template <typename Value>
bool WriteScalar(const Value& value, SnapshotText& text)
{
    if constexpr (std::is_same_v<Value, bool>) {
        text.Bool(value);
    } else if constexpr (std::is_integral_v<Value>) {
        text.Integer(value);
    } else {
        text.String(value);
    }
    return true;
}

template <typename Value>
bool WriteScalar(const std::optional<Value>& value, SnapshotText& text)
{
    return value && WriteScalar(*value, text);
}

void ReadPowerCapabilities(const Json& value, const std::string& path, MachineSnapshot& snapshot)
{
    ExpectObject(value, path);
    for (const auto& [name, member] : value.items()) {
        std::string memberPath = MemberPath(path, name);
        if (name == "AoAc") {
            snapshot.PowerCapabilities[SystemPowerCapabilitiesAoAcOffset] =
                ReadBool(member, memberPath) ? 1 : 0;
        } else if (name == "bytes") {
            std::vector<uint8_t> bytes = ReadHex(member, memberPath);
            if (bytes.size() != snapshot.PowerCapabilities.size()) {
                Fail(memberPath, "expected " + std::to_string(SystemPowerCapabilitiesSize) +
                                     " bytes, found " + std::to_string(bytes.size()));
            }
            std::copy(bytes.begin(), bytes.end(), snapshot.PowerCapabilities.begin());
        } else if (name == "status") {
            snapshot.PowerStatus = static_cast<int32_t>(ReadStatus(member, memberPath));
        } else {
            Fail(memberPath, "unknown member");
        }
    }
    // "bytes" sets the whole structure; an "AoAc" beside it wins.
    if (value.contains("bytes") && value.contains("AoAc")) {
        snapshot.PowerCapabilities[SystemPowerCapabilitiesAoAcOffset] =
            value["AoAc"].get<bool>() ? 1 : 0;
    }
}

// The shortest of the three forms that replays the same answer: a failing call
// never hands out its bytes.
bool WritePowerCapabilities(const MachineSnapshot& snapshot, SnapshotText& text)
{
    text.BeginObject();
    auto bytes = snapshot.PowerCapabilities;
    uint8_t aoac = std::exchange(bytes[SystemPowerCapabilitiesAoAcOffset], uint8_t{0});
    if (snapshot.PowerStatus) {
        text.PlainKey("status");
        text.Integer(*snapshot.PowerStatus);
    } else if (aoac <= 1 &&
               std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; })) {
        text.PlainKey("AoAc");
        text.Bool(aoac == 1);
    } else {
        text.PlainKey("bytes");
        text.String(BytesAsHex(snapshot.PowerCapabilities));
    }
    text.End();
    return true;
}

SnapshotRegistryValue ReadRegistryEntry(const Json& value, const std::string& path)
{
    SnapshotRegistryValue result;
    if (value.is_string()) {
        result.ValueType = SnapshotRegistryValue::Type::Sz;
        result.Text = value.get<std::string>();
    } else if (value.is_number_integer()) {
        result.ValueType = SnapshotRegistryValue::Type::Dword;
        result.Dword =
            static_cast<uint32_t>(ReadInteger(value, path, std::numeric_limits<int32_t>::min(),
                                              std::numeric_limits<uint32_t>::max()));
    } else if (value.is_object()) {
        result.ValueType = SnapshotRegistryValue::Type::Binary;
        result.Bytes = ReadHexObject(value, path);
    } else {
        Fail(path, std::string("expected a string, an integer or {\"hex\": ...}, found ") +
                       TypeName(value));
    }
    return result;
}

bool WriteRegistryEntry(const SnapshotRegistryValue& value, SnapshotText& text)
{
    switch (value.ValueType) {
    case SnapshotRegistryValue::Type::Sz:
        return WriteScalar(value.Text, text);
    case SnapshotRegistryValue::Type::Dword:
        return WriteScalar(value.Dword, text);
    case SnapshotRegistryValue::Type::Binary:
        break;
    }
    return WriteHexObject(value.Bytes, text);
}

void ReadRegistry(const Json& value, const std::string& path, MachineSnapshot& snapshot)
{
    ExpectObject(value, path);
    for (const auto& [key, values] : value.items()) {
        std::string keyPath = MemberPath(path, key);
        ExpectObject(values, keyPath);
        auto [entry, added] = snapshot.Registry.try_emplace(RegistryKeyLookupName(key));
        if (!added) {
            Fail(keyPath,
                 "the same key as another (keys compare ignoring case and a trailing "
                 "backslash)");
        }
        for (const auto& [name, data] : values.items()) {
            std::string namePath = MemberPath(keyPath, name);
            auto [value, named] = entry->second.try_emplace(AsciiLower(name));
            if (!named) {
                Fail(namePath, "the same value name as another (names compare ignoring case)");
            }
            value->second = ReadRegistryEntry(data, namePath);
        }
    }
}

bool WriteRegistry(const MachineSnapshot& snapshot, SnapshotText& text)
{
    return WriteMap(snapshot.Registry, text, [](const auto& values, SnapshotText& keyText) {
        WriteMap(values, keyText, WriteRegistryEntry);
    });
}

void ReadEventProperties(const Json& value, const std::string& path, SnapshotEvent& event)
{
    ExpectArray(value, path);
    size_t textSize = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        std::string pairPath = IndexPath(path, i);
        const Json& pair = value[i];
        if (!pair.is_array() || pair.size() != 2) {
            Fail(pairPath, "expected a pair [name, value]");
        }
        for (size_t part = 0; part < 2; ++part) {
            textSize += ReadStringRef(pair[part], IndexPath(pairPath, part)).size();
        }
    }
    event.Properties.Reserve(value.size(), textSize);
    for (const Json& pair : value) {
        event.Properties.Add(pair[0].get_ref<const std::string&>(),
                             pair[1].get_ref<const std::string&>());
    }
    event.Properties.ShrinkToFit();  // a text of 255 bytes or more takes more room
}

bool WriteEventProperties(const SnapshotEvent& event, SnapshotText& text)
{
    text.BeginArray();
    for (const auto& [name, value] : event.Properties) {
        text.Element();
        const std::string_view pair[] = {name, value};
        text.Scalars(std::span<const std::string_view>(pair));
    }
    text.End();
    return !event.Properties.empty();
}

// A member left at its default is not written.
const MemberRule<SnapshotEvent> EventMembers[] = {
    {"provider", true,
     [](const Json& value, const std::string& path, SnapshotEvent& event) {
         std::optional<Guid> provider = ProviderGuid(ReadStringRef(value, path));
         if (!provider) {
             Fail(path,
                  "expected Microsoft-Windows-Kernel-Power, "
                  "Microsoft-Windows-Kernel-Pep or a GUID in braces");
         }
         event.Provider = *provider;
     },
     [](const SnapshotEvent& event, SnapshotText& text) {
         // By its name when it has one, which most events' providers do.
         if (const std::string_view name = KernelProviderName(event.Provider); !name.empty()) {
             text.String(name);
         } else {
             text.String(GuidText(event.Provider));
         }
         return true;
     }},
    {"id", true,
     [](const Json& value, const std::string& path, SnapshotEvent& event) {
         event.Id = static_cast<uint16_t>(ReadInteger(value, path, 0, 0xFFFF));
     },
     [](const SnapshotEvent& event, SnapshotText& text) { return WriteScalar(event.Id, text); }},
    {"decodingSource", false,
     [](const Json& value, const std::string& path, SnapshotEvent& event) {
         event.DecodingSource = static_cast<uint32_t>(ReadInteger(value, path, 0, 2));
     },
     [](const SnapshotEvent& event, SnapshotText& text) {
         return event.DecodingSource != 0 && WriteScalar(event.DecodingSource, text);
     }},
    {"opcode", false,
     [](const Json& value, const std::string& path, SnapshotEvent& event) {
         event.Opcode = static_cast<uint8_t>(ReadInteger(value, path, 0, 0xFF));
     },
     [](const SnapshotEvent& event, SnapshotText& text) {
         return event.Opcode != 0 && WriteScalar(event.Opcode, text);
     }},
    {"pointerSize", false,
     [](const Json& value, const std::string& path, SnapshotEvent& event) {
         int64_t size = ReadInteger(value, path, 4, 8);
         if (size != 4 && size != 8) {
             Fail(path, "expected 4 or 8");
         }
         event.PointerSize = static_cast<uint8_t>(size);
     },
     [](const SnapshotEvent& event, SnapshotText& text) {
         return event.PointerSize != 8 && WriteScalar(event.PointerSize, text);
     }},
    {"properties", true, ReadEventProperties, WriteEventProperties},
    {"TdhGetEventInformation", false,
     [](const Json& value, const std::string& path, SnapshotEvent& event) {
         event.InformationFault = ReadStatus(value, path);
     },
     [](const SnapshotEvent& event, SnapshotText& text) {
         return WriteScalar(event.InformationFault, text);
     }},
};

void ReadEvent(const Json& value, const std::string& path, MachineSnapshot& snapshot)
{
    ReadMembers(value, path, EventMembers, "unknown member", snapshot.Events.emplace_back());
}

// The parser hands the events over one by one (ReadEvent); the document keeps
// none of them.
void ReadEvents(const Json& value, const std::string& path, MachineSnapshot& snapshot)
{
    ExpectArray(value, path);
    for (size_t i = 0; i < value.size(); ++i) {
        ReadEvent(value[i], IndexPath(path, i), snapshot);
    }
}

bool WriteEvents(const MachineSnapshot& snapshot, SnapshotText& text)
{
    text.BeginArray();
    for (const SnapshotEvent& event : snapshot.Events) {
        text.MayPassOn();
        text.Element();
        WriteMembers(event, EventMembers, text);
    }
    text.End();
    return !snapshot.Events.empty();
}

SnapshotDeviceValue ReadDeviceValue(const Json& value, const std::string& path)
{
    if (value.is_string()) {
        return value.get<std::string>();
    }
    if (value.is_array()) {
        std::vector<std::string> list;
        list.reserve(value.size());
        for (size_t i = 0; i < value.size(); ++i) {
            list.push_back(ReadString(value[i], IndexPath(path, i)));
        }
        return list;
    }
    if (value.is_number_integer()) {
        return static_cast<int32_t>(ReadInteger(value, path, std::numeric_limits<int32_t>::min(),
                                                std::numeric_limits<uint32_t>::max()));
    }
    if (value.is_object()) {
        return ReadHexObject(value, path);
    }
    Fail(path, std::string("expected a string, a list of strings, an integer or "
                           "{\"hex\": ...}, found ") +
                   TypeName(value));
}

void WriteDeviceValue(const SnapshotDeviceValueView& value, SnapshotText& text)
{
    if (const auto* list = std::get_if<std::span<const std::string_view>>(&value)) {
        text.Scalars(*list);
    } else if (const auto* bytes = std::get_if<std::span<const uint8_t>>(&value)) {
        WriteHexObject(*bytes, text);
    } else if (const auto* number = std::get_if<int32_t>(&value)) {
        text.Integer(*number);
    } else {
        text.String(std::get<std::string_view>(value));
    }
}

// One device; `instanceIds` holds the lower-cased ids of those read before.
void ReadDevice(const std::string& instanceId, const Json& properties,
                const std::string& devicePath, MachineSnapshot& snapshot,
                std::set<std::string>& instanceIds)
{
    ExpectObject(properties, devicePath);
    if (!instanceIds.insert(AsciiLower(instanceId)).second) {
        Fail(devicePath, "the same instance id as another (ids compare ignoring case)");
    }
    SnapshotDeviceProperties& target = snapshot.Devices[instanceId];
    for (const auto& [field, data] : properties.items()) {
        std::string fieldPath = MemberPath(devicePath, field);
        const size_t key = DevicePropertyIndex(field);
        if (key >= DevicePropertyKeys.size()) {
            Fail(fieldPath, "unknown member (not a device property field)");
        }
        target.Set(key, ReadDeviceValue(data, fieldPath));
    }
    target.ShrinkToFit();
}

// The parser hands the devices over one by one (ReadDevice); the document
// keeps none of them.
void ReadDevices(const Json& value, const std::string& path, MachineSnapshot& snapshot)
{
    ExpectObject(value, path);
    std::set<std::string> instanceIds;
    for (const auto& [instanceId, properties] : value.items()) {
        ReadDevice(instanceId, properties, MemberPath(path, instanceId), snapshot, instanceIds);
    }
}

bool WriteDevices(const MachineSnapshot& snapshot, SnapshotText& text)
{
    return WriteMap(
        snapshot.Devices, text,
        [](const SnapshotDeviceProperties& properties, SnapshotText& deviceText) {
            deviceText.BeginObject();
            properties.ForEach([&](std::string_view name, const SnapshotDeviceValueView& value) {
                deviceText.MayPassOn();
                deviceText.PlainKey(name);
                WriteDeviceValue(value, deviceText);
            });
            deviceText.End();
        });
}

void ReadFirmwareTables(const Json& value, const std::string& path, MachineSnapshot& snapshot)
{
    ExpectObject(value, path);
    for (const auto& [signature, bytes] : value.items()) {
        std::string tablePath = MemberPath(path, signature);
        if (signature.size() != 4) {
            Fail(tablePath, "a table signature has four characters");
        }
        snapshot.FirmwareTables[signature] = ReadHex(bytes, tablePath);
    }
}

bool WriteFirmwareTables(const MachineSnapshot& snapshot, SnapshotText& text)
{
    return WriteMap(snapshot.FirmwareTables, text,
                    [](const std::vector<uint8_t>& bytes, SnapshotText& tableText) {
                        tableText.String(BytesAsHex(bytes));
                    });
}

// A port always says whether its request succeeds: "answer" is written, empty
// or not, unless the request fails.
const MemberRule<SnapshotScsiPort> ScsiPortMembers[] = {
    {"answer", false,
     [](const Json& value, const std::string& path, SnapshotScsiPort& port) {
         port.Answer = ReadHex(value, path);
         if (port.Answer.size() > 224) {
             Fail(path, "an answer holds at most 224 bytes");
         }
     },
     [](const SnapshotScsiPort& port, SnapshotText& text) {
         return !(port.IoctlFails && port.Answer.empty()) &&
                WriteScalar(BytesAsHex(port.Answer), text);
     }},
    {"ioctlFails", false,
     [](const Json& value, const std::string& path, SnapshotScsiPort& port) {
         port.IoctlFails = ReadBool(value, path);
     },
     [](const SnapshotScsiPort& port, SnapshotText& text) {
         return port.IoctlFails && WriteScalar(true, text);
     }},
};

void ReadScsiPorts(const Json& value, const std::string& path, MachineSnapshot& snapshot)
{
    ExpectObject(value, path);
    for (const auto& [port, answer] : value.items()) {
        std::string portPath = MemberPath(path, port);
        bool digits = !port.empty() && port.size() <= 9 &&
                      port.find_first_not_of("0123456789") == std::string::npos;
        if (!digits) {
            Fail(portPath, "a port number is written in decimal digits");
        }
        SnapshotScsiPort scsiPort;
        ReadMembers(answer, portPath, ScsiPortMembers, "unknown member", scsiPort);
        snapshot.ScsiPorts[static_cast<uint32_t>(std::stoul(port))] = std::move(scsiPort);
    }
}

bool WriteScsiPorts(const MachineSnapshot& snapshot, SnapshotText& text)
{
    return WriteMap(snapshot.ScsiPorts, text,
                    [](const SnapshotScsiPort& port, SnapshotText& portText) {
                        WriteMembers(port, ScsiPortMembers, portText);
                    });
}

// A status for every call, or a list: the statuses of the first calls.
void ReadStartTraceFaults(const Json& value, const std::string& path, SnapshotFaults& faults)
{
    if (!value.is_array()) {
        faults.StartTraceW = {ReadStatus(value, path)};
        faults.StartTraceWAlways = true;
        return;
    }
    for (size_t i = 0; i < value.size(); ++i) {
        faults.StartTraceW.push_back(ReadStatus(value[i], IndexPath(path, i)));
    }
}

bool WriteStartTraceFaults(const SnapshotFaults& faults, SnapshotText& text)
{
    if (faults.StartTraceWAlways && !faults.StartTraceW.empty()) {
        return WriteScalar(faults.StartTraceW.front(), text);
    }
    text.Scalars(std::span<const uint32_t>(faults.StartTraceW));
    return !faults.StartTraceW.empty();
}

void ReadEnableTraceFaults(const Json& value, const std::string& path, SnapshotFaults& faults)
{
    ExpectObject(value, path);
    for (const auto& [call, status] : value.items()) {
        std::string callPath = MemberPath(path, call);
        bool digits = !call.empty() && call.size() <= 9 &&
                      call.find_first_not_of("0123456789") == std::string::npos;
        if (!digits || std::stoul(call) == 0) {
            Fail(callPath, "a call number counts from 1");
        }
        faults.EnableTraceEx2[static_cast<uint32_t>(std::stoul(call))] =
            ReadStatus(status, callPath);
    }
}

bool WriteEnableTraceFaults(const SnapshotFaults& faults, SnapshotText& text)
{
    return WriteMap(faults.EnableTraceEx2, text,
                    [](uint32_t status, SnapshotText& statusText) { statusText.Integer(status); });
}

// A call that fails with one status whenever it is made.
template <std::optional<uint32_t> SnapshotFaults::*Status>
constexpr MemberRule<SnapshotFaults> StatusFault(std::string_view name)
{
    return {name, false,
            [](const Json& value, const std::string& path, SnapshotFaults& faults) {
                faults.*Status = ReadStatus(value, path);
            },
            [](const SnapshotFaults& faults, SnapshotText& text) {
                return WriteScalar(faults.*Status, text);
            }};
}

const MemberRule<SnapshotFaults> FaultMembers[] = {
    {"StartTraceW", false, ReadStartTraceFaults, WriteStartTraceFaults},
    StatusFault<&SnapshotFaults::ControlTraceW>("ControlTraceW"),
    {"EnableTraceEx2", false, ReadEnableTraceFaults, WriteEnableTraceFaults},
    StatusFault<&SnapshotFaults::StopTraceW>("StopTraceW"),
    StatusFault<&SnapshotFaults::OpenTraceW>("OpenTraceW"),
    StatusFault<&SnapshotFaults::ProcessTrace>("ProcessTrace"),
    // A failing call returns 0 as an absent table does, so only the growing
    // table has a fault of its own.
    {"GetSystemFirmwareTable", false,
     [](const Json& value, const std::string& path, SnapshotFaults& faults) {
         if (ReadString(value, path) != "grow") {
             Fail(path, "expected \"grow\"");
         }
         faults.FirmwareTableGrows = true;
     },
     [](const SnapshotFaults& faults, SnapshotText& text) {
         return faults.FirmwareTableGrows && WriteScalar(std::string_view("grow"), text);
     }},
    {"interrupt", false,
     [](const Json& value, const std::string& path, SnapshotFaults& faults) {
         faults.Interrupt = ReadString(value, path);
         if (std::find(InterruptibleCalls.begin(), InterruptibleCalls.end(), faults.Interrupt) ==
             InterruptibleCalls.end()) {
             std::string names;
             for (std::string_view call : InterruptibleCalls) {
                 names += (names.empty() ? "" : ", ") + std::string(call);
             }
             Fail(path, "expected the name of a call a run can be interrupted in: " + names);
         }
     },
     [](const SnapshotFaults& faults, SnapshotText& text) {
         return !faults.Interrupt.empty() && WriteScalar(faults.Interrupt, text);
     }},
};

const MemberRule<MachineSnapshot> SnapshotMembers[] = {
    {"format", true,
     [](const Json& value, const std::string& path, MachineSnapshot&) {
         if (ReadString(value, path) != MachineSnapshotFormat) {
             Fail(path, "expected \"" + std::string(MachineSnapshotFormat) + "\"");
         }
     },
     [](const MachineSnapshot&, SnapshotText& text) {
         return WriteScalar(MachineSnapshotFormat, text);
     }},
    {"description", false,
     [](const Json& value, const std::string& path, MachineSnapshot& snapshot) {
         snapshot.Description = ReadString(value, path);
     },
     [](const MachineSnapshot& snapshot, SnapshotText& text) {
         return !snapshot.Description.empty() && WriteScalar(snapshot.Description, text);
     }},
    {"administrator", false,
     [](const Json& value, const std::string& path, MachineSnapshot& snapshot) {
         snapshot.Administrator = ReadBool(value, path);
     },
     [](const MachineSnapshot& snapshot, SnapshotText& text) {
         return WriteScalar(snapshot.Administrator, text);
     }},
    {"powerCapabilities", false, ReadPowerCapabilities, WritePowerCapabilities},
    {"registry", false, ReadRegistry, WriteRegistry},
    {"events", false, ReadEvents, WriteEvents},
    {"devices", false, ReadDevices, WriteDevices},
    {"firmwareTables", false, ReadFirmwareTables, WriteFirmwareTables},
    {"scsiPorts", false, ReadScsiPorts, WriteScsiPorts},
    {"faults", false,
     [](const Json& value, const std::string& path, MachineSnapshot& snapshot) {
         ReadMembers(value, path, FaultMembers,
                     "unknown member (not a platform call that can fail)", snapshot.Faults);
     },
     [](const MachineSnapshot& snapshot, SnapshotText& text) {
         return WriteMembers(snapshot.Faults, FaultMembers, text);
     }},
};

}  // namespace

std::string RegistryKeyLookupName(std::string_view keyPath)
{
    while (!keyPath.empty() && keyPath.back() == '\\') {
        keyPath.remove_suffix(1);
    }
    return AsciiLower(keyPath);
}

namespace {

// Events and devices, the bulk of a large machine, are read as the parser
// completes each, so the whole document is never held as JSON.
template <typename Input>
std::variant<MachineSnapshot, SnapshotError> ParseSnapshot(Input& input)
{
    MachineSnapshot snapshot;
    std::set<std::string> instanceIds;
    const StreamedMembers<Json> streamed = {
        {"events",
         {true, [&](const Json& event, const std::string& path,
                    const std::string&) { ReadEvent(event, path, snapshot); }}},
        {"devices",
         {false,
          [&](const Json& properties, const std::string& path, const std::string& instanceId) {
              ReadDevice(instanceId, properties, path, snapshot, instanceIds);
          }}},
    };
    try {
        const Json document = ParseStrictJson<Json>(input, streamed);
        ReadMembers(document, "$", SnapshotMembers, "unknown member", snapshot);
    } catch (const JsonFault& fault) {
        return SnapshotError{fault.Path, fault.Message};
    } catch (const InvalidMember& invalid) {
        return SnapshotError{invalid.path, invalid.message};
    }
    return snapshot;
}

}  // namespace

std::variant<MachineSnapshot, SnapshotError> ParseMachineSnapshot(std::string_view json)
{
    return ParseSnapshot(json);
}

std::string WriteMachineSnapshot(const MachineSnapshot& snapshot)
{
    std::ostringstream out;
    WriteMachineSnapshot(snapshot, out);
    return std::move(out).str();
}

void WriteMachineSnapshot(const MachineSnapshot& snapshot, std::ostream& out)
{
    SnapshotText text(out);
    WriteMembers(snapshot, SnapshotMembers, text);
    text.Finish();
}

std::variant<MachineSnapshot, std::string> LoadMachineSnapshot(const std::string& path)
{
    // Read as it is parsed: the text is not held beside what is read from it.
    const std::string name = "machine snapshot " + path + ": ";
    if (std::optional<std::string> refusal = InputFileRefusal(path)) {
        return name + *refusal;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        return name + "cannot be opened";
    }
    auto parsed = ParseSnapshot(file);
    if (file.bad()) {
        return name + "cannot be read";
    }
    if (auto* error = std::get_if<SnapshotError>(&parsed)) {
        return name + error->Path + ": " + error->Message;
    }
    return std::get<MachineSnapshot>(std::move(parsed));
}

}  // namespace dormex
