// Device property collection on whatever the Configuration Manager answers:
// any status, any claimed size, any bytes, for each property in turn.
//
// Input: the status of locating the device (0 finds it), then for each
// property read: its status (0 succeeds), the size the call reports (16 bits,
// may exceed the buffer), and that many bytes, fewer when the input ends.
#include <algorithm>
#include <cstdint>
#include <sstream>

#include "FuzzSupport.h"
#include "common/Bytes.h"
#include "devices/DeviceProperties.h"
#include "log/DebugLog.h"
#include "trace/RundownLists.h"

namespace {

class FuzzedDeviceManager final : public dormex::DeviceManager {
public:
    explicit FuzzedDeviceManager(dormex::fuzz::ByteReader& input) : input_(input) {}

    uint32_t LocateDevNode(dormex::DevInst* devInst, const std::u16string&, uint32_t) override
    {
        uint32_t status = input_.U8();
        *devInst = 1;
        return status;
    }
    uint32_t GetDevNodeProperty(dormex::DevInst, const dormex::DevPropKey&, uint32_t* type,
                                uint8_t* buffer, uint32_t* bufferSize, uint32_t) override
    {
        if (input_.AtEnd()) {
            return dormex::CrNoSuchValue;
        }
        uint32_t status = input_.U8();
        uint32_t reported = input_.U16();
        std::vector<uint8_t> bytes = input_.Bytes(reported);
        if (status != dormex::CrSuccess) {
            return status;
        }
        *type = 0;
        dormex::CopyBytes(buffer, bytes.data(), std::min<size_t>(bytes.size(), *bufferSize));
        *bufferSize = reported;
        return dormex::CrSuccess;
    }

private:
    dormex::fuzz::ByteReader& input_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    dormex::fuzz::ByteReader input(data, size);
    FuzzedDeviceManager deviceManager(input);
    dormex::NullConsole console;
    std::ostringstream entries;
    dormex::DebugLog log(console);
    log.WriteTo(&entries);
    const std::deque<dormex::PoDeviceEntry> poDevices = {
        {"0xFFFF8A0C1E3B2D50", "PCI\\VEN_3C11&DEV_0A01\\3&1&0&F8", "HDAudBus"}};
    dormex::DevicePropertiesByInstancePath devices;
    dormex::CollectDeviceProperties(poDevices, devices, log, deviceManager);
    return 0;
}
