#include "trace/RundownLists.h"

#include <optional>

#include "common/StatusCodes.h"
#include "common/Text.h"
#include "log/DebugLog.h"

namespace dormex {

namespace {

constexpr int32_t InvalidParameter = AsStatus(ErrorInvalidParameter);

constexpr char UpperHexDigits[] = "0123456789ABCDEF";

// `text` with control bytes, '%' and, in a name, ':' written as %XX.
std::string Escaped(std::string_view text, bool isName)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || c == '%' || (isName && c == ':')) {
            escaped += {'%', UpperHexDigits[byte >> 4], UpperHexDigits[byte & 0xF]};
        } else {
            escaped += c;
        }
    }
    return escaped;
}

// Every %XX back to its byte; a '%' without two hex digits stays as it is.
std::string Unescaped(std::string_view text)
{
    std::string plain;
    plain.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            std::optional<uint8_t> high = HexDigitValue(text[i + 1]);
            std::optional<uint8_t> low = HexDigitValue(text[i + 2]);
            if (high && low) {
                plain += static_cast<char>(*high << 4 | *low);
                i += 2;
                continue;
            }
        }
        plain += text[i];
    }
    return plain;
}

// Rewinds the file and hands every line's key and value to `store`: the key is
// the text before the first ": ", the value all the rest of the line.
template <typename Store>
void ReadKeyValues(std::istream& file, Store store)
{
    file.clear();
    file.seekg(0);
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();  // a line end that reached us untranslated
        }
        const std::string_view text = line;
        const size_t separator = text.find(": ");
        if (separator != std::string_view::npos) {
            store(Unescaped(text.substr(0, separator)), Unescaped(text.substr(separator + 2)));
        }
    }
}

// "PowerState:" fills the next of the three slots; a fourth and later value
// has no slot and is dropped.
void AddPowerState(std::array<int32_t, 3>& states, size_t& filled, const std::string& value)
{
    if (filled < states.size()) {
        states[filled++] = ReadDecimal(value);
    }
}

// Each stores the value of its own keys and ignores every other line.
template <typename Record>
struct PepFields {
    Record& record;
    std::string Record::*name;
    const char* nameKey;
    size_t filled = 0;

    void operator()(const std::string& key, std::string value)
    {
        if (key == "DeviceId") {
            record.DeviceId = std::move(value);
        } else if (key == nameKey) {
            record.*name = std::move(value);
        } else if (key == "PlatformStateDependencyCount") {
            // Any count marks one dependency; the value itself is not used.
            record.PlatformStateDependencyCount = 1;
        } else if (key == "PowerState") {
            AddPowerState(record.PowerStates, filled, value);
        }
    }
};

struct PoFxFields {
    PoFxDeviceRundown& record;

    void operator()(const std::string& key, std::string value)
    {
        if (key == "DeviceNode") {
            record.DeviceNode = ReadDecimal(value);
        } else if (key == "DeviceId") {
            record.DeviceId = std::move(value);
        } else if (key == "InstancePath") {
            record.InstancePath = std::move(value);
        } else if (key == "ServiceName") {
            record.ServiceName = std::move(value);
        }
    }
};

struct PoFields {
    PoDeviceEntry& record;

    void operator()(const std::string& key, std::string value)
    {
        if (key == "DeviceNode") {
            record.DeviceNode = std::move(value);
        } else if (key == "InstancePath") {
            record.InstancePath = std::move(value);
        } else if (key == "FriendlyName") {
            record.FriendlyName = std::move(value);
        }
    }
};

// One record from the open scratch file, appended to `list`. `fieldsOf` gives
// what stores the values into a record.
template <typename Record, typename FieldsOf>
int32_t AddEntry(std::istream* deviceFile, std::deque<Record>& list, DebugLog& log,
                 const char* invalidParameter, FieldsOf fieldsOf)
{
    if (deviceFile == nullptr) {
        log.WriteLog(LogLevel::Warning, invalidParameter, InvalidParameter);
        return InvalidParameter;
    }
    Record record;
    ReadKeyValues(*deviceFile, fieldsOf(record));
    list.push_back(std::move(record));
    return 0;
}

}  // namespace

void WriteDeviceFileLine(std::ostream& file, std::string_view name, std::string_view value)
{
    file << Escaped(name, true) << ": " << Escaped(value, false) << "\n";
}

int32_t AddPoFxEntry(std::istream* deviceFile, RundownLists& lists, DebugLog& log)
{
    return AddEntry(deviceFile, lists.PoFxRundownList, log,
                    "Invalid parameter to add a PoFx Entry.",
                    [](PoFxDeviceRundown& record) { return PoFxFields{record}; });
}

int32_t AddPepDeviceEntry(std::istream* deviceFile, RundownLists& lists, DebugLog& log)
{
    return AddEntry(
        deviceFile, lists.PepDeviceRundownList, log, "Invalid parameter to add a Pep D Entry.",
        [](PepDeviceRundown& record) {
            return PepFields<PepDeviceRundown>{record, &PepDeviceRundown::DeviceName, "DeviceName"};
        });
}

int32_t AddPepComponentEntry(std::istream* deviceFile, RundownLists& lists, DebugLog& log)
{
    return AddEntry(
        deviceFile, lists.PepComponentRundownList, log,
        "Invalid parameter to add a Pep Component Entry.", [](PepComponentRundown& record) {
            return PepFields<PepComponentRundown>{
                record, &PepComponentRundown::ComponentDescription, "ComponentDescription"};
        });
}

int32_t AddPoEntry(std::istream* deviceFile, RundownLists& lists, DebugLog& log)
{
    return AddEntry(deviceFile, lists.PoDeviceList, log, "Invalid parameter to add a Po Entry.",
                    [](PoDeviceEntry& record) { return PoFields{record}; });
}

}  // namespace dormex
