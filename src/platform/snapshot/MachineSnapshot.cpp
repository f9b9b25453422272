#include "platform/snapshot/MachineSnapshot.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <set>
#include <span>
#include <type_traits>
#include <utility>

#include <nlohmann/json.hpp>

#include "common/FileLimits.h"
#include "common/StrictJson.h"
#include "common/Text.h"
#include "platform/DevicePropertyKeys.h"
#include "platform/TraceProviders.h"

namespace dormex {

namespace {

using Json = nlohmann::json;
// The writer's tree: its objects keep the order in which members are added.
using OrderedJson = nlohmann::ordered_json;

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

OrderedJson WriteHexObject(const std::vector<uint8_t>& bytes)
{
    return {{"hex", BytesAsHex(bytes)}};
}

// One member of a snapshot object: how the loader reads it into the model and
// how the writer writes it from the model. The loader accepts the members of
// the list and no others; the writer writes them in the list's order.
template <typename Model>
struct MemberRule {
    std::string_view name;
    bool required;
    void (*read)(const Json& value, const std::string& path, Model& model);
    // Null when the model holds nothing the member would say; an empty object
    // or array of a member that is not required is left out too.
    OrderedJson (*write)(const Model& model);
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

// Appends a member whose name the object does not have yet. The ordered
// object's own insertion first looks for the name among all its members,
// which a map of thousands of devices cannot afford.
void AppendNewMember(OrderedJson& object, std::string name, OrderedJson value)
{
    using Members = OrderedJson::object_t;
    object.get_ref<Members&>().Members::Container::emplace_back(std::move(name), std::move(value));
}

// A map as an object, in the map's order.
template <typename Key, typename Value, typename WriteValue>
OrderedJson WriteMap(const std::map<Key, Value>& map, WriteValue writeValue)
{
    OrderedJson object = OrderedJson::object();
    for (const auto& [key, value] : map) {
        if constexpr (std::is_integral_v<Key>) {
            AppendNewMember(object, std::to_string(key), writeValue(value));
        } else {
            AppendNewMember(object, key, writeValue(value));
        }
    }
    return object;
}

template <typename Model, size_t Count>
OrderedJson WriteMembers(const Model& model, const MemberRule<Model> (&members)[Count])
{
    OrderedJson object = OrderedJson::object();
    for (const MemberRule<Model>& member : members) {
        OrderedJson value = member.write(model);
        if (!value.is_null() && (member.required || !value.empty())) {
            object[std::string(member.name)] = std::move(value);
        }
    }
    return object;
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
OrderedJson WritePowerCapabilities(const MachineSnapshot& snapshot)
{
    if (snapshot.PowerStatus) {
        return {{"status", *snapshot.PowerStatus}};
    }
    auto bytes = snapshot.PowerCapabilities;
    uint8_t aoac = std::exchange(bytes[SystemPowerCapabilitiesAoAcOffset], uint8_t{0});
    if (aoac <= 1 && std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; })) {
        return {{"AoAc", aoac == 1}};
    }
    return {{"bytes", BytesAsHex(snapshot.PowerCapabilities)}};
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

OrderedJson WriteRegistryEntry(const SnapshotRegistryValue& value)
{
    switch (value.ValueType) {
    case SnapshotRegistryValue::Type::Sz:
        return value.Text;
    case SnapshotRegistryValue::Type::Dword:
        return value.Dword;
    case SnapshotRegistryValue::Type::Binary:
        break;
    }
    return WriteHexObject(value.Bytes);
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

OrderedJson WriteRegistry(const MachineSnapshot& snapshot)
{
    return WriteMap(snapshot.Registry,
                    [](const auto& values) { return WriteMap(values, WriteRegistryEntry); });
}

void ReadEventProperties(const Json& value, const std::string& path, SnapshotEvent& event)
{
    ExpectArray(value, path);
    for (size_t i = 0; i < value.size(); ++i) {
        std::string pairPath = IndexPath(path, i);
        const Json& pair = value[i];
        if (!pair.is_array() || pair.size() != 2) {
            Fail(pairPath, "expected a pair [name, value]");
        }
        event.Properties.emplace_back(ReadString(pair[0], IndexPath(pairPath, 0)),
                                      ReadString(pair[1], IndexPath(pairPath, 1)));
    }
}

OrderedJson WriteEventProperties(const SnapshotEvent& event)
{
    OrderedJson properties = OrderedJson::array();
    for (const auto& [name, value] : event.Properties) {
        properties.push_back(OrderedJson::array({name, value}));
    }
    return properties;
}

// A member left at its default is not written.
const MemberRule<SnapshotEvent> EventMembers[] = {
    {"provider", true,
     [](const Json& value, const std::string& path, SnapshotEvent& event) {
         event.Provider = ReadString(value, path);
         if (!ProviderGuid(event.Provider)) {
             Fail(path,
                  "expected Microsoft-Windows-Kernel-Power, "
                  "Microsoft-Windows-Kernel-Pep or a GUID in braces");
         }
     },
     [](const SnapshotEvent& event) -> OrderedJson { return event.Provider; }},
    {"id", true,
     [](const Json& value, const std::string& path, SnapshotEvent& event) {
         event.Id = static_cast<uint16_t>(ReadInteger(value, path, 0, 0xFFFF));
     },
     [](const SnapshotEvent& event) -> OrderedJson { return event.Id; }},
    {"decodingSource", false,
     [](const Json& value, const std::string& path, SnapshotEvent& event) {
         event.DecodingSource = static_cast<uint32_t>(ReadInteger(value, path, 0, 2));
     },
     [](const SnapshotEvent& event) -> OrderedJson {
         return event.DecodingSource == 0 ? OrderedJson() : OrderedJson(event.DecodingSource);
     }},
    {"opcode", false,
     [](const Json& value, const std::string& path, SnapshotEvent& event) {
         event.Opcode = static_cast<uint8_t>(ReadInteger(value, path, 0, 0xFF));
     },
     [](const SnapshotEvent& event) -> OrderedJson {
         return event.Opcode == 0 ? OrderedJson() : OrderedJson(event.Opcode);
     }},
    {"pointerSize", false,
     [](const Json& value, const std::string& path, SnapshotEvent& event) {
         int64_t size = ReadInteger(value, path, 4, 8);
         if (size != 4 && size != 8) {
             Fail(path, "expected 4 or 8");
         }
         event.PointerSize = static_cast<uint32_t>(size);
     },
     [](const SnapshotEvent& event) -> OrderedJson {
         return event.PointerSize == 8 ? OrderedJson() : OrderedJson(event.PointerSize);
     }},
    {"properties", true, ReadEventProperties, WriteEventProperties},
    {"TdhGetEventInformation", false,
     [](const Json& value, const std::string& path, SnapshotEvent& event) {
         event.InformationFault = ReadStatus(value, path);
     },
     [](const SnapshotEvent& event) -> OrderedJson {
         return event.InformationFault ? OrderedJson(*event.InformationFault) : OrderedJson();
     }},
};

void ReadEvents(const Json& value, const std::string& path, MachineSnapshot& snapshot)
{
    ExpectArray(value, path);
    for (size_t i = 0; i < value.size(); ++i) {
        ReadMembers(value[i], IndexPath(path, i), EventMembers, "unknown member",
                    snapshot.Events.emplace_back());
    }
}

OrderedJson WriteEvents(const MachineSnapshot& snapshot)
{
    OrderedJson events = OrderedJson::array();
    for (const SnapshotEvent& event : snapshot.Events) {
        events.push_back(WriteMembers(event, EventMembers));
    }
    return events;
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

OrderedJson WriteDeviceValue(const SnapshotDeviceValue& value)
{
    switch (value.ValueType) {
    case SnapshotDeviceValue::Type::Text:
        return value.Text;
    case SnapshotDeviceValue::Type::List:
        return value.List;
    case SnapshotDeviceValue::Type::Number:
        return value.Number;
    case SnapshotDeviceValue::Type::Bytes:
        break;
    }
    return WriteHexObject(value.Bytes);
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
            // A named copy, as in ReadMembers.
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

OrderedJson WriteDevices(const MachineSnapshot& snapshot)
{
    return WriteMap(snapshot.Devices,
                    [](const auto& properties) { return WriteMap(properties, WriteDeviceValue); });
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

OrderedJson WriteFirmwareTables(const MachineSnapshot& snapshot)
{
    return WriteMap(snapshot.FirmwareTables, [](const std::vector<uint8_t>& bytes) {
        return OrderedJson(BytesAsHex(bytes));
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
     [](const SnapshotScsiPort& port) -> OrderedJson {
         return port.IoctlFails && port.Answer.empty() ? OrderedJson()
                                                       : OrderedJson(BytesAsHex(port.Answer));
     }},
    {"ioctlFails", false,
     [](const Json& value, const std::string& path, SnapshotScsiPort& port) {
         port.IoctlFails = ReadBool(value, path);
     },
     [](const SnapshotScsiPort& port) -> OrderedJson {
         return port.IoctlFails ? OrderedJson(true) : OrderedJson();
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

OrderedJson WriteScsiPorts(const MachineSnapshot& snapshot)
{
    return WriteMap(snapshot.ScsiPorts, [](const SnapshotScsiPort& port) {
        return WriteMembers(port, ScsiPortMembers);
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

OrderedJson WriteStartTraceFaults(const SnapshotFaults& faults)
{
    if (faults.StartTraceWAlways && !faults.StartTraceW.empty()) {
        return faults.StartTraceW.front();
    }
    return faults.StartTraceW;
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

OrderedJson WriteEnableTraceFaults(const SnapshotFaults& faults)
{
    return WriteMap(faults.EnableTraceEx2, [](uint32_t status) { return OrderedJson(status); });
}

// A call that fails with one status whenever it is made.
template <std::optional<uint32_t> SnapshotFaults::*Status>
constexpr MemberRule<SnapshotFaults> StatusFault(std::string_view name)
{
    return {name, false,
            [](const Json& value, const std::string& path, SnapshotFaults& faults) {
                faults.*Status = ReadStatus(value, path);
            },
            [](const SnapshotFaults& faults) -> OrderedJson {
                return faults.*Status ? OrderedJson(*(faults.*Status)) : OrderedJson();
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
     [](const SnapshotFaults& faults) -> OrderedJson {
         return faults.FirmwareTableGrows ? OrderedJson("grow") : OrderedJson();
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
     [](const SnapshotFaults& faults) -> OrderedJson {
         return faults.Interrupt.empty() ? OrderedJson() : OrderedJson(faults.Interrupt);
     }},
};

const MemberRule<MachineSnapshot> SnapshotMembers[] = {
    {"format", true,
     [](const Json& value, const std::string& path, MachineSnapshot&) {
         if (ReadString(value, path) != MachineSnapshotFormat) {
             Fail(path, "expected \"" + std::string(MachineSnapshotFormat) + "\"");
         }
     },
     [](const MachineSnapshot&) -> OrderedJson { return MachineSnapshotFormat; }},
    {"description", false,
     [](const Json& value, const std::string& path, MachineSnapshot& snapshot) {
         snapshot.Description = ReadString(value, path);
     },
     [](const MachineSnapshot& snapshot) -> OrderedJson {
         return snapshot.Description.empty() ? OrderedJson() : OrderedJson(snapshot.Description);
     }},
    {"administrator", false,
     [](const Json& value, const std::string& path, MachineSnapshot& snapshot) {
         snapshot.Administrator = ReadBool(value, path);
     },
     [](const MachineSnapshot& snapshot) -> OrderedJson { return snapshot.Administrator; }},
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
     [](const MachineSnapshot& snapshot) { return WriteMembers(snapshot.Faults, FaultMembers); }},
};

// Two-space indentation, a member or an element a line, except that an array
// of scalars (a property pair, a string list) stays on one line. Text that is
// not UTF-8 does not stop the writer: each invalid sequence becomes U+FFFD.
void Print(const OrderedJson& value, size_t depth, std::string& out)
{
    auto scalar = [](const OrderedJson& scalar) {
        return scalar.dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
    };
    auto isScalar = [](const OrderedJson& element) { return element.is_primitive(); };
    if (value.is_primitive() || value.empty()) {
        out += scalar(value);
        return;
    }
    bool object = value.is_object();
    if (!object && std::all_of(value.begin(), value.end(), isScalar)) {
        out += '[';
        for (auto element = value.begin(); element != value.end(); ++element) {
            out += (element == value.begin() ? "" : ", ") + scalar(*element);
        }
        out += ']';
        return;
    }
    out += object ? "{\n" : "[\n";
    for (auto element = value.begin(); element != value.end(); ++element) {
        out += element == value.begin() ? "" : ",\n";
        out += std::string(2 * (depth + 1), ' ');
        if (object) {
            out += scalar(element.key()) + ": ";
        }
        Print(element.value(), depth + 1, out);
    }
    out += "\n" + std::string(2 * depth, ' ') + (object ? '}' : ']');
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
    try {
        document = ParseStrictJson<Json>(json);
    } catch (const JsonFault& fault) {
        return SnapshotError{fault.Path, fault.Message};
    }
    try {
        MachineSnapshot snapshot;
        ReadMembers(document, "$", SnapshotMembers, "unknown member", snapshot);
        return snapshot;
    } catch (const InvalidMember& invalid) {
        return SnapshotError{invalid.path, invalid.message};
    }
}

std::string WriteMachineSnapshot(const MachineSnapshot& snapshot)
{
    std::string text;
    Print(WriteMembers(snapshot, SnapshotMembers), 0, text);
    return text + "\n";
}

std::variant<MachineSnapshot, std::string> LoadMachineSnapshot(const std::string& path)
{
    InputFileText file = ReadInputFile(path);
    if (!file.Fault.empty()) {
        return "machine snapshot " + path + ": " + file.Fault;
    }
    auto parsed = ParseMachineSnapshot(file.Text);
    if (auto* error = std::get_if<SnapshotError>(&parsed)) {
        return "machine snapshot " + path + ": " + error->Path + ": " + error->Message;
    }
    return std::get<MachineSnapshot>(std::move(parsed));
}

}  // namespace dormex
