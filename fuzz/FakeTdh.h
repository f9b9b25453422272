#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common/Text.h"
#include "platform/EventTraceConsumer.h"
#include "platform/Tdh.h"
#include "platform/TraceProviders.h"

// The trace decoder service as the trace fuzzer fakes it: the input describes
// each event (structures, arrays, counts, lengths, value maps, in-types) as the
// replayed machine's flat text properties cannot.
namespace dormex::fuzz {

inline constexpr uint16_t InTypeUInt32 = 8;

// One event as the fake decoder describes it.
struct FakeEvent {
    uint16_t id = 320;
    uint32_t decodingSource = 0;
    std::vector<EventPropertyInfo> properties;
    uint32_t topLevel = 0;
    std::vector<uint8_t> data;
    std::map<std::u16string, uint32_t> numbers;  // values of length and count properties
    std::map<std::u16string, std::vector<std::u16string>> maps;
    uint32_t infoStatus = 0;
    uint32_t mapStatus = 0;
    Guid provider = KernelPowerProvider;
    uint16_t flags = 0;
};

inline EventRecord RecordOf(const FakeEvent& event)
{
    EventRecord record;
    record.ProviderId = event.provider;
    record.Id = event.id;
    record.Flags = event.flags;
    record.UserData = event.data.data();
    record.UserDataLength = static_cast<uint16_t>(event.data.size());
    record.Native = &event;
    return record;
}

// Serves structures, arrays, counts, lengths and value maps; formats strings
// and 32-bit numbers (through a map when there is one, the number picking the entry).
class FakeTdh final : public Tdh {
public:
    const FakeEvent& Of(const EventRecord& event)
    {
        return *static_cast<const FakeEvent*>(event.Native);
    }

    uint32_t GetEventInformation(const EventRecord& event, TraceEventInfo* info,
                                 uint32_t* bufferSize) override
    {
        const FakeEvent& fake = Of(event);
        if (fake.infoStatus != 0) {
            return fake.infoStatus;
        }
        if (info == nullptr) {
            *bufferSize = 100;
            return 122;
        }
        info->DecodingSource = fake.decodingSource;
        info->EventId = fake.id;
        info->TopLevelPropertyCount = fake.topLevel;
        info->EventPropertyInfoArray = fake.properties;
        return 0;
    }
    uint32_t GetPropertySize(const EventRecord&, const std::u16string&, uint32_t* size) override
    {
        *size = 4;
        return 0;
    }
    // A length or count is a 32-bit number: asking for more bytes than that
    // is refused, so a decoder that does fails the tests.
    uint32_t GetProperty(const EventRecord& event, const std::u16string& name, uint32_t size,
                         uint8_t* buffer) override
    {
        const FakeEvent& fake = Of(event);
        auto number = fake.numbers.find(name);
        if (number == fake.numbers.end()) {
            return 1168;
        }
        if (size > 4) {
            return 87;
        }
        std::memcpy(buffer, &number->second, size);
        return 0;
    }
    uint32_t GetEventMapInformation(const EventRecord& event, const std::u16string& name,
                                    EventMapInfo* map, uint32_t* size) override
    {
        const FakeEvent& fake = Of(event);
        if (fake.mapStatus != 0) {
            return fake.mapStatus;
        }
        auto entries = fake.maps.find(name);
        if (name.empty() || entries == fake.maps.end()) {
            return 1168;
        }
        if (map == nullptr) {
            *size = 64;
            return 122;
        }
        map->EntryOutputs = entries->second;
        return 0;
    }
    uint32_t FormatProperty(const TraceEventInfo&, const EventMapInfo* map, uint32_t pointerSize,
                            const EventPropertyInfo& property, uint16_t length, uint16_t remaining,
                            const uint8_t* data, uint32_t* bufferSize, char16_t* buffer,
                            uint16_t* consumed) override
    {
        pointerSizes.push_back(pointerSize);
        std::u16string text;
        uint16_t used = 0;
        if (property.InType == TdhInTypeUnicodeString && length > 0) {
            // A counted string: its characters, zero units among them.
            if (2 * length > remaining) {
                return 15005;
            }
            for (; used < 2 * length; used += 2) {
                text.push_back(static_cast<char16_t>(data[used] | data[used + 1] << 8));
            }
        } else if (property.InType == TdhInTypeUnicodeString) {
            for (; used + 1 < remaining; used += 2) {
                char16_t unit = static_cast<char16_t>(data[used] | data[used + 1] << 8);
                if (unit == 0) {
                    break;
                }
                text.push_back(unit);
            }
            if (used + 1 >= remaining) {
                return 15005;
            }
            used += 2;
        } else if (property.InType == InTypeUInt32 && length == 4 && remaining >= 4) {
            uint32_t value = 0;
            std::memcpy(&value, data, 4);
            text = map != nullptr && value < map->EntryOutputs.size()
                       ? map->EntryOutputs[value]
                       : Utf8ToUtf16(std::to_string(value));
            used = 4;
        } else {
            return 1;
        }
        uint32_t needed = static_cast<uint32_t>(2 * (text.size() + 1));
        if (*bufferSize < needed) {
            *bufferSize = needed;
            return 122;
        }
        std::memcpy(buffer, text.c_str(), needed);
        *consumed = used;
        return 0;
    }

    std::vector<uint32_t> pointerSizes;
};

}  // namespace dormex::fuzz
