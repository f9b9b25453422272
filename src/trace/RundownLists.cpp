#include "trace/RundownLists.h"
#include "common/StatusCodes.h"
#include "common/Text.h"
#include "log/DebugLog.h"

namespace dormex {

namespace {

constexpr int32_t InvalidParameter = AsStatus(ErrorInvalidParameter);

// Reads words as a "%1023s" scan does: runs of characters other than space,
// tab, carriage return and line feed, at most 1023 to a word.
class WordReader {
public:
    explicit WordReader(std::istream& file) : file_(file) {}

    bool Next(std::string& word)
    {
        word.clear();
        int c = file_.get();
        while (c != std::char_traits<char>::eof() && IsBlank(c)) {
            c = file_.get();
        }
        while (c != std::char_traits<char>::eof() && !IsBlank(c)) {
            word.push_back(static_cast<char>(c));
            if (word.size() == 1023) {
                return true;
            }
            c = file_.get();
        }
        return !word.empty();
    }

private:
    static bool IsBlank(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    std::istream& file_;
};

// Rewinds the file and hands every key's value word to `store`. A key's value
// is the next word whatever it is; other words are passed over.
template <typename Store>
void ReadKeyValues(std::istream& file, Store store)
{
    file.clear();
    file.seekg(0);
    WordReader reader(file);
    std::string word;
    std::string value;
    while (reader.Next(word)) {
        if (store.IsKey(word)) {
            if (!reader.Next(value)) {
                break;
            }
            store(word, value);
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

template <typename Record>
struct PepFields {
    Record& record;
    std::string Record::*name;
    const char* nameKey;
    size_t filled = 0;

    bool IsKey(const std::string& word) const
    {
        return word == "DeviceId:" || word == nameKey || word == "PlatformStateDependencyCount:" ||
               word == "PowerState:";
    }
    void operator()(const std::string& key, const std::string& value)
    {
        if (key == "DeviceId:") {
            record.DeviceId = value;
        } else if (key == nameKey) {
            record.*name = value;
        } else if (key == "PlatformStateDependencyCount:") {
            // Any count marks one dependency; the value itself is not used.
            record.PlatformStateDependencyCount = 1;
        } else {
            AddPowerState(record.PowerStates, filled, value);
        }
    }
};

struct PoFxFields {
    PoFxDeviceRundown& record;

    bool IsKey(const std::string& word) const
    {
        return word == "DeviceNode:" || word == "DeviceId:" || word == "InstancePath:" ||
               word == "ServiceName:";
    }
    void operator()(const std::string& key, const std::string& value)
    {
        if (key == "DeviceNode:") {
            record.DeviceNode = ReadDecimal(value);
        } else if (key == "DeviceId:") {
            record.DeviceId = value;
        } else if (key == "InstancePath:") {
            record.InstancePath = value;
        } else {
            record.ServiceName = value;
        }
    }
};

struct PoFields {
    PoDeviceEntry& record;

    bool IsKey(const std::string& word) const
    {
        return word == "DeviceNode:" || word == "InstancePath:" || word == "FriendlyName:";
    }
    void operator()(const std::string& key, const std::string& value)
    {
        if (key == "DeviceNode:") {
            record.DeviceNode = value;
        } else if (key == "InstancePath:") {
            record.InstancePath = value;
        } else {
            record.FriendlyName = value;
        }
    }
};

// One record from the open scratch file, appended to `list`. `fieldsOf` gives
// the key reader that fills a record.
template <typename Record, typename FieldsOf>
int32_t AddEntry(std::istream* deviceFile, std::deque<Record>& list, DebugLog& log,
                 const char* invalidParameter, FieldsOf fieldsOf)
{
    if (deviceFile == nullptr) {
        log.WriteLog(WARNING, invalidParameter, InvalidParameter);
        return InvalidParameter;
    }
    Record record;
    ReadKeyValues(*deviceFile, fieldsOf(record));
    list.push_back(std::move(record));
    return 0;
}

}  // namespace

int32_t AddPoFxEntry(std::istream* deviceFile, RundownLists& lists, DebugLog& log)
{
    return AddEntry(deviceFile, lists.PoFxRundownList, log,
                    "Invalid parameter to add a PoFx Entry.",
                    [](PoFxDeviceRundown& record) { return PoFxFields{record}; });
}

int32_t AddPepDeviceEntry(std::istream* deviceFile, RundownLists& lists, DebugLog& log)
{
    return AddEntry(deviceFile, lists.PepDeviceRundownList, log,
                    "Invalid parameter to add a Pep D Entry.", [](PepDeviceRundown& record) {
                        return PepFields<PepDeviceRundown>{record, &PepDeviceRundown::DeviceName,
                                                           "DeviceName:"};
                    });
}

int32_t AddPepComponentEntry(std::istream* deviceFile, RundownLists& lists, DebugLog& log)
{
    return AddEntry(
        deviceFile, lists.PepComponentRundownList, log,
        "Invalid parameter to add a Pep Component Entry.", [](PepComponentRundown& record) {
            return PepFields<PepComponentRundown>{
                record, &PepComponentRundown::ComponentDescription, "ComponentDescription:"};
        });
}

int32_t AddPoEntry(std::istream* deviceFile, RundownLists& lists, DebugLog& log)
{
    return AddEntry(deviceFile, lists.PoDeviceList, log, "Invalid parameter to add a Po Entry.",
                    [](PoDeviceEntry& record) { return PoFields{record}; });
}

}  // namespace dormex
