#include "platform/replay/ReplayMachine.h"

#include <cstring>
#include <fstream>
#include <sstream>

#include "common/Bytes.h"
#include "common/StatusCodes.h"
#include "common/Text.h"

namespace dormex {

namespace {

constexpr int32_t StatusInvalidParameter = static_cast<int32_t>(0xC000000D);
constexpr int32_t StatusBufferTooSmall = static_cast<int32_t>(0xC0000023);

std::vector<uint8_t> RegistryData(const SnapshotRegistryValue& value)
{
    switch (value.ValueType) {
    case SnapshotRegistryValue::Type::Sz: {
        std::vector<uint8_t> data(value.Text.begin(), value.Text.end());
        data.push_back(0);
        return data;
    }
    case SnapshotRegistryValue::Type::Dword: {
        std::array<uint8_t, 4> bytes = U32Bytes(value.Dword);
        return {bytes.begin(), bytes.end()};
    }
    case SnapshotRegistryValue::Type::Binary:
        return value.Bytes;
    }
    return {};
}

uint32_t RegistryTypeFlag(SnapshotRegistryValue::Type type)
{
    switch (type) {
    case SnapshotRegistryValue::Type::Sz:
        return RegistryTypeSz;
    case SnapshotRegistryValue::Type::Dword:
        return RegistryTypeDword;
    case SnapshotRegistryValue::Type::Binary:
        return RegistryTypeBinary;
    }
    return 0;
}

}  // namespace

uint32_t ReplayRegistry::GetValue(const std::string& key, const std::string& name, uint32_t flags,
                                  void* data, uint32_t* size)
{
    interruption_.Reached("RegGetValueA");
    auto keyEntry = snapshot_.Registry.find(RegistryKeyLookupName(key));
    if (keyEntry == snapshot_.Registry.end()) {
        return ErrorFileNotFound;
    }
    auto valueEntry = keyEntry->second.find(AsciiLower(name));
    if (valueEntry == keyEntry->second.end()) {
        return ErrorFileNotFound;
    }
    if ((flags & RegistryTypeFlag(valueEntry->second.ValueType)) == 0) {
        return ErrorUnsupportedType;
    }
    std::vector<uint8_t> bytes = RegistryData(valueEntry->second);
    uint32_t needed = static_cast<uint32_t>(bytes.size());
    if (data == nullptr) {
        if (size != nullptr) {
            *size = needed;
        }
        return 0;
    }
    if (size == nullptr || *size < needed) {
        if (size != nullptr) {
            *size = needed;
        }
        return ErrorMoreData;
    }
    CopyBytes(data, bytes.data(), bytes.size());
    *size = needed;
    return 0;
}

int32_t ReplayPowerInformation::CallNtPowerInformation(int32_t level, const void*, uint32_t,
                                                       void* output, uint32_t outputSize)
{
    if (snapshot_.PowerStatus) {
        return *snapshot_.PowerStatus;
    }
    if (level != SystemPowerCapabilities || output == nullptr) {
        return StatusInvalidParameter;
    }
    if (outputSize < snapshot_.PowerCapabilities.size()) {
        return StatusBufferTooSmall;
    }
    std::memcpy(output, snapshot_.PowerCapabilities.data(), snapshot_.PowerCapabilities.size());
    return 0;
}

bool ReplaySecurity::AllocateAndInitializeSid(const std::array<uint8_t, 6>&, uint8_t,
                                              const std::array<uint32_t, 8>& subAuthorities,
                                              SidHandle* sid)
{
    administrators_ = subAuthorities;
    *sid = &administrators_;
    return true;
}

bool ReplaySecurity::CheckTokenMembership(SidHandle sid, bool* isMember)
{
    if (sid != &administrators_) {
        return false;
    }
    *isMember = snapshot_.Administrator;
    return true;
}

void ReplaySecurity::FreeSid(SidHandle) {}

std::variant<MachineSnapshot, std::string> LoadMachineSnapshot(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        return "machine snapshot " + path + ": cannot be opened";
    }
    std::ostringstream text;
    text << file.rdbuf();
    auto parsed = ParseMachineSnapshot(text.str());
    if (auto* error = std::get_if<SnapshotError>(&parsed)) {
        return "machine snapshot " + path + ": " + error->Path + ": " + error->Message;
    }
    return std::get<MachineSnapshot>(std::move(parsed));
}

}  // namespace dormex
