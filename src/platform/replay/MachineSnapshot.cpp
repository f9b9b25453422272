#include "platform/replay/MachineSnapshot.h"

#include <algorithm>
#include <limits>
#include <set>

#include <nlohmann/json.hpp>

#include "common/Text.h"
#include "platform/DevicePropertyKeys.h"
#include "platform/TraceProviders.h"

namespace dormex {

namespace {

using Json = nlohmann::json;

// Thrown inside the parser only; ParseMachineSnapshot turns it into a result.
struct InvalidMember {
    std::string path;
    std::string message;
};

// Appends a member's name to a path, as ".name" when it is an identifier.
void AppendMember(std::string& path, std::string_view name)
{
    bool plain = !name.empty();
    for (char c : name) {
        bool identifier =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        plain = plain && identifier;
    }
    if (plain) {
        path += '.';
        path += name;
        return;
    }
    // Quoted as a JSON string, so backslashes show doubled as in the file.
    path += '[';
    path += Json(std::string(name)).dump();
    path += ']';
}

void AppendIndex(std::string& path, size_t index)
{
    path += '[';
    path += std::to_string(index);
    path += ']';
}

std::string MemberPath(std::string path, std::string_view name)
{
    AppendMember(path, name);
    return path;
}

std::string IndexPath(std::string path, size_t index)
{
    AppendIndex(path, index);
    return path;
}

// Builds the document as the JSON reader does while following it: knows the
// path of the member being read, and refuses a member named twice in one
// object, of which the reader would silently keep the last.
class TrackingReader {
public:
    explicit TrackingReader(Json& document) : dom_(document, true) {}

    bool null() { return Scalar(dom_.null()); }
    bool boolean(bool value) { return Scalar(dom_.boolean(value)); }
    bool number_integer(Json::number_integer_t value) { return Scalar(dom_.number_integer(value)); }
    bool number_unsigned(Json::number_unsigned_t value)
    {
        return Scalar(dom_.number_unsigned(value));
    }
    bool number_float(Json::number_float_t value, const Json::string_t& text)
    {
        return Scalar(dom_.number_float(value, text));
    }
    bool string(Json::string_t& value) { return Scalar(dom_.string(value)); }
    bool binary(Json::binary_t& value) { return Scalar(dom_.binary(value)); }
    bool start_object(size_t size)
    {
        frames_.emplace_back().object = true;
        return dom_.start_object(size);
    }
    bool key(Json::string_t& name)
    {
        Frame& top = frames_.back();
        top.key = name;
        if (!top.keys.insert(name).second) {
            throw InvalidMember{CurrentPath(), "a member named twice"};
        }
        return dom_.key(name);
    }
    bool end_object()
    {
        frames_.pop_back();
        return Scalar(dom_.end_object());
    }
    bool start_array(size_t size)
    {
        frames_.emplace_back();
        return dom_.start_array(size);
    }
    bool end_array()
    {
        frames_.pop_back();
        return Scalar(dom_.end_array());
    }
    template <typename Exception>
    bool parse_error(size_t position, const std::string& token, const Exception& error)
    {
        return dom_.parse_error(position, token, error);  // throws it
    }

    // The path of the value being read, "$" outside any container. Built only
    // when a message needs it, in one string: a deeply nested document must
    // not copy the path once per level.
    std::string CurrentPath() const
    {
        std::string path = "$";
        for (const Frame& frame : frames_) {
            if (frame.object) {
                AppendMember(path, frame.key);
            } else {
                AppendIndex(path, frame.index);
            }
        }
        return path;
    }

private:
    struct Frame {
        bool object = false;
        std::string key;   // the member being read
        size_t index = 0;  // the element being read
        std::set<std::string> keys;
    };

    // A value is complete: the next one of an array has the next index.
    bool Scalar(bool result)
    {
        if (!frames_.empty() && !frames_.back().object) {
            ++frames_.back().index;
        }
        return result;
    }

    nlohmann::detail::json_sax_dom_parser<Json> dom_;
    std::vector<Frame> frames_;
};

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

std::string ReadString(const Json& value, const std::string& path)
{
    if (!value.is_string()) {
        Fail(path, std::string("expected a string, found ") + TypeName(value));
    }
    return value.get<std::string>();
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

SnapshotEvent ReadEvent(const Json& value, const std::string& path)
{
    ExpectObject(value, path);
    SnapshotEvent event;
    for (const std::string required : {"provider", "id", "properties"}) {
        if (!value.contains(required)) {
            Fail(path, "missing member \"" + required + "\"");
        }
    }
    for (const auto& [name, member] : value.items()) {
        std::string memberPath = MemberPath(path, name);
        if (name == "provider") {
            event.Provider = ReadString(member, memberPath);
            if (!ProviderGuid(event.Provider)) {
                Fail(memberPath,
                     "expected Microsoft-Windows-Kernel-Power, "
                     "Microsoft-Windows-Kernel-Pep or a GUID in braces");
            }
        } else if (name == "id") {
            event.Id = static_cast<uint16_t>(ReadInteger(member, memberPath, 0, 0xFFFF));
        } else if (name == "properties") {
            ExpectArray(member, memberPath);
            for (size_t i = 0; i < member.size(); ++i) {
                std::string pairPath = IndexPath(memberPath, i);
                const Json& pair = member[i];
                if (!pair.is_array() || pair.size() != 2) {
                    Fail(pairPath, "expected a pair [name, value]");
                }
                event.Properties.emplace_back(ReadString(pair[0], IndexPath(pairPath, 0)),
                                              ReadString(pair[1], IndexPath(pairPath, 1)));
            }
        } else if (name == "decodingSource") {
            event.DecodingSource = static_cast<uint32_t>(ReadInteger(member, memberPath, 0, 2));
        } else if (name == "opcode") {
            event.Opcode = static_cast<uint8_t>(ReadInteger(member, memberPath, 0, 0xFF));
        } else if (name == "pointerSize") {
            int64_t size = ReadInteger(member, memberPath, 4, 8);
            if (size != 4 && size != 8) {
                Fail(memberPath, "expected 4 or 8");
            }
            event.PointerSize = static_cast<uint32_t>(size);
        } else {
            Fail(memberPath, "unknown member");
        }
    }
    return event;
}

SnapshotDeviceValue ReadDeviceValue(const Json& value, const std::string& path)
{
    SnapshotDeviceValue result;
    if (value.is_string()) {
        result.ValueType = SnapshotDeviceValue::Type::Text;
        result.Text = value.get<std::string>();
    } else if (value.is_array()) {
        result.ValueType = SnapshotDeviceValue::Type::List;
        for (size_t i = 0; i < value.size(); ++i) {
            result.List.push_back(ReadString(value[i], IndexPath(path, i)));
        }
    } else if (value.is_number_integer()) {
        result.ValueType = SnapshotDeviceValue::Type::Number;
        result.Number =
            static_cast<int32_t>(ReadInteger(value, path, std::numeric_limits<int32_t>::min(),
                                             std::numeric_limits<uint32_t>::max()));
    } else if (value.is_object()) {
        result.ValueType = SnapshotDeviceValue::Type::Bytes;
        result.Bytes = ReadHexObject(value, path);
    } else {
        Fail(path, std::string("expected a string, a list of strings, an integer or "
                               "{\"hex\": ...}, found ") +
                       TypeName(value));
    }
    return result;
}

void ReadDevices(const Json& value, const std::string& path, MachineSnapshot& snapshot)
{
    ExpectObject(value, path);
    std::set<std::string> instanceIds;
    for (const auto& [instanceId, properties] : value.items()) {
        std::string devicePath = MemberPath(path, instanceId);
        ExpectObject(properties, devicePath);
        if (!instanceIds.insert(AsciiLower(instanceId)).second) {
            Fail(devicePath, "the same instance id as another (ids compare ignoring case)");
        }
        auto& target = snapshot.Devices[instanceId];
        for (const auto& [field, data] : properties.items()) {
            std::string fieldPath = MemberPath(devicePath, field);
            // A named copy: a lambda may not capture a structured binding
            // before C++20, and clang before 16 refuses it even then.
            const std::string& fieldName = field;
            bool known =
                std::any_of(DevicePropertyKeys.begin(), DevicePropertyKeys.end(),
                            [&](const DevicePropertyKey& key) { return key.Name == fieldName; });
            if (!known) {
                Fail(fieldPath, "unknown member (not a device property field)");
            }
            target[field] = ReadDeviceValue(data, fieldPath);
        }
    }
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
        ExpectObject(answer, portPath);
        SnapshotScsiPort scsiPort;
        for (const auto& [name, member] : answer.items()) {
            std::string memberPath = MemberPath(portPath, name);
            if (name == "answer") {
                scsiPort.Answer = ReadHex(member, memberPath);
                if (scsiPort.Answer.size() > 224) {
                    Fail(memberPath, "an answer holds at most 224 bytes");
                }
            } else if (name == "ioctlFails") {
                scsiPort.IoctlFails = ReadBool(member, memberPath);
            } else {
                Fail(memberPath, "unknown member");
            }
        }
        snapshot.ScsiPorts[static_cast<uint32_t>(std::stoul(port))] = std::move(scsiPort);
    }
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

void ReadFaults(const Json& value, const std::string& path, SnapshotFaults& faults)
{
    ExpectObject(value, path);
    for (const auto& [name, member] : value.items()) {
        std::string memberPath = MemberPath(path, name);
        if (name == "StartTraceW") {
            ReadStartTraceFaults(member, memberPath, faults);
        } else if (name == "ControlTraceW") {
            faults.ControlTraceW = ReadStatus(member, memberPath);
        } else if (name == "StopTraceW") {
            faults.StopTraceW = ReadStatus(member, memberPath);
        } else if (name == "OpenTraceW") {
            faults.OpenTraceW = ReadStatus(member, memberPath);
        } else if (name == "ProcessTrace") {
            faults.ProcessTrace = ReadStatus(member, memberPath);
        } else if (name == "EnableTraceEx2") {
            ExpectObject(member, memberPath);
            for (const auto& [call, status] : member.items()) {
                std::string callPath = MemberPath(memberPath, call);
                bool digits = !call.empty() && call.size() <= 9 &&
                              call.find_first_not_of("0123456789") == std::string::npos;
                if (!digits || std::stoul(call) == 0) {
                    Fail(callPath, "a call number counts from 1");
                }
                faults.EnableTraceEx2[static_cast<uint32_t>(std::stoul(call))] =
                    ReadStatus(status, callPath);
            }
        } else if (name == "GetSystemFirmwareTable") {
            // A failing call returns 0 as an absent table does, so only the
            // growing table has a fault of its own.
            if (ReadString(member, memberPath) != "grow") {
                Fail(memberPath, "expected \"grow\"");
            }
            faults.FirmwareTableGrows = true;
        } else {
            Fail(memberPath, "unknown member (not a platform call that can fail)");
        }
    }
}

MachineSnapshot ReadSnapshot(const Json& document)
{
    const std::string root = "$";
    ExpectObject(document, root);
    if (!document.contains("format")) {
        Fail(root, "missing member \"format\"");
    }
    MachineSnapshot snapshot;
    for (const auto& [name, member] : document.items()) {
        std::string path = MemberPath(root, name);
        if (name == "format") {
            if (ReadString(member, path) != MachineSnapshotFormat) {
                Fail(path, "expected \"" + std::string(MachineSnapshotFormat) + "\"");
            }
        } else if (name == "description") {
            snapshot.Description = ReadString(member, path);
        } else if (name == "administrator") {
            snapshot.Administrator = ReadBool(member, path);
        } else if (name == "powerCapabilities") {
            ReadPowerCapabilities(member, path, snapshot);
        } else if (name == "registry") {
            ReadRegistry(member, path, snapshot);
        } else if (name == "events") {
            ExpectArray(member, path);
            for (size_t i = 0; i < member.size(); ++i) {
                snapshot.Events.push_back(ReadEvent(member[i], IndexPath(path, i)));
            }
        } else if (name == "devices") {
            ReadDevices(member, path, snapshot);
        } else if (name == "firmwareTables") {
            ReadFirmwareTables(member, path, snapshot);
        } else if (name == "scsiPorts") {
            ReadScsiPorts(member, path, snapshot);
        } else if (name == "faults") {
            ReadFaults(member, path, snapshot.Faults);
        } else {
            Fail(path, "unknown member");
        }
    }
    return snapshot;
}

}  // namespace

std::string RegistryKeyLookupName(std::string_view keyPath)
{
    while (!keyPath.empty() && keyPath.back() == '\\') {
        keyPath.remove_suffix(1);
    }
    return AsciiLower(keyPath);
}

std::variant<MachineSnapshot, SnapshotError> ParseMachineSnapshot(std::string_view json)
{
    Json document;
    TrackingReader reader(document);
    try {
        Json::sax_parse(json, &reader);
    } catch (const InvalidMember& invalid) {
        return SnapshotError{invalid.path, invalid.message};
    } catch (const Json::parse_error& error) {
        return SnapshotError{"$", std::string("not valid JSON: ") + error.what()};
    } catch (const Json::exception& error) {
        // A number beyond what a double holds (1e400), in the member being read.
        return SnapshotError{reader.CurrentPath(), std::string("not valid JSON: ") + error.what()};
    }
    try {
        return ReadSnapshot(document);
    } catch (const InvalidMember& invalid) {
        return SnapshotError{invalid.path, invalid.message};
    }
}

}  // namespace dormex
