// Trace event decoding through the decoder service, faked (FakeTdh.h) so that
// the input describes up to four events (their metadata, count and length
// values, value maps and data), each decoded as the trace callback decodes it,
// into the scratch file and the rundown lists.
//
// Per event: provider (0 Kernel-Power, 1 Kernel-Pep, 2 the trace header, 3
// another), event id (16 bits), flags (bit 0: 32-bit header, bits 1-2:
// decoding source, bit 3: no event information, bit 4/5: the map lookup fails
// with 87/14), property count, top-level count; per property: flags, in-type,
// out-type, name, map (0: none), count and length (16 bits each), first
// structure member, member count; then numbers (a count, then name and 32-bit
// value each), map texts (a count, then length and characters each), and the
// data (a 16-bit length, then the bytes).
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string_view>

#include "FakeTdh.h"
#include "FuzzSupport.h"
#include "log/DebugLog.h"
#include "platform/NativeFileSystem.h"
#include "trace/RundownLists.h"
#include "trace/TraceDecoding.h"

namespace {

using dormex::fuzz::ByteReader;
using dormex::fuzz::FakeEvent;

constexpr size_t MaxEvents = 4;
constexpr size_t MaxProperties = 16;
constexpr size_t MaxNumbers = 8;
constexpr size_t MaxMapTexts = 8;

constexpr std::array<std::u16string_view, 11> Names = {
    u"DeviceId",     u"InstancePath",
    u"ServiceName",  u"DeviceNode",
    u"DeviceName",   u"PlatformStateDependencyCount",
    u"PowerState",   u"ComponentDescription",
    u"FriendlyName", u"Count",
    u"Size"};
constexpr std::u16string_view MapName = u"Map";

std::u16string NameAt(uint8_t index)
{
    return std::u16string(Names[index % Names.size()]);
}

FakeEvent ReadEvent(ByteReader& input)
{
    FakeEvent event;
    const dormex::Guid providers[] = {dormex::KernelPowerProvider, dormex::KernelPepProvider,
                                      dormex::EventTraceGuid, dormex::Guid{0x12345678}};
    event.provider = providers[input.U8() % 4];
    event.id = input.U16();
    const uint8_t flags = input.U8();
    event.flags = (flags & 1) != 0 ? dormex::EventHeaderFlag32BitHeader : 0;
    event.decodingSource = (flags >> 1) & 3;
    event.infoStatus = (flags & 8) != 0 ? 1168 : 0;
    event.mapStatus = (flags & 16) != 0 ? 87 : (flags & 32) != 0 ? 14 : 0;
    const size_t count = std::min<size_t>(input.U8(), MaxProperties);
    event.topLevel = input.U8();
    for (size_t i = 0; i < count; ++i) {
        dormex::EventPropertyInfo& property = event.properties.emplace_back();
        property.Flags = input.U8() & 7;
        property.InType = input.U8();
        property.OutType = input.U8();
        property.Name = NameAt(input.U8());
        property.MapName = input.U8() != 0 ? std::u16string(MapName) : u"";
        property.Count = input.U16();
        property.Length = input.U16();
        property.StructStartIndex = input.U8();
        property.NumOfStructMembers = input.U8();
    }
    const size_t numbers = std::min<size_t>(input.U8(), MaxNumbers);
    for (size_t i = 0; i < numbers; ++i) {
        std::u16string name = NameAt(input.U8());
        event.numbers[name] = input.U32();
    }
    const size_t texts = std::min<size_t>(input.U8(), MaxMapTexts);
    std::vector<std::u16string>& map = event.maps[std::u16string(MapName)];
    for (size_t i = 0; i < texts; ++i) {
        std::vector<uint8_t> text = input.Bytes(input.U8());
        map.push_back(dormex::DecodeUtf16Le(text));
    }
    event.data = input.Bytes(input.U16());
    return event;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::unique_ptr<dormex::FileSystem> files = dormex::MakeNativeFileSystem();
    ByteReader input(data, size);
    std::vector<FakeEvent> events;
    while (!input.AtEnd() && events.size() < MaxEvents) {
        events.push_back(ReadEvent(input));
    }

    dormex::NullConsole console;
    std::ostringstream entries;
    dormex::DebugLog log(console);
    log.WriteTo(&entries);
    dormex::fuzz::FakeTdh tdh;
    dormex::RundownLists lists;
    dormex::ScratchFile file((dormex::fuzz::ProcessDirectory() / dormex::ScratchFileName).string(),
                             *files);
    dormex::DecodeContext decoder{lists, log, tdh, file};
    for (const FakeEvent& event : events) {
        dormex::OnTraceEvent(dormex::fuzz::RecordOf(event), decoder);
    }
    file.Release();
    return 0;
}
