#pragma once

#include <cstdint>
#include <string>

#include "platform/Guid.h"

namespace dormex {

using DevInst = uint32_t;

inline constexpr uint32_t CrSuccess = 0;
inline constexpr uint32_t CrNoSuchDevNode = 0x0D;
inline constexpr uint32_t CrBufferSmall = 0x1A;
inline constexpr uint32_t CrNoSuchValue = 0x25;
inline constexpr uint32_t LocateDevNodeNormal = 0;

// DEVPROPTYPE values of the properties a machine answers with.
inline constexpr uint32_t DevPropTypeInt32 = 0x06;
inline constexpr uint32_t DevPropTypeUInt32 = 0x07;
inline constexpr uint32_t DevPropTypeString = 0x12;
inline constexpr uint32_t DevPropTypeBinary = 0x1003;
inline constexpr uint32_t DevPropTypeStringList = 0x2012;

// DEVPROPKEY.
struct DevPropKey {
    Guid FmtId;
    uint32_t Pid = 0;

    friend bool operator==(const DevPropKey&, const DevPropKey&) = default;
};

// The Configuration Manager.
class DeviceManager {
public:
    virtual ~DeviceManager() = default;

    // CM_Locate_DevNodeW.
    virtual uint32_t LocateDevNode(DevInst* devInst, const std::u16string& instanceId,
                                   uint32_t flags) = 0;

    // CM_Get_DevNode_PropertyW: *bufferSize in bytes, in and out.
    virtual uint32_t GetDevNodeProperty(DevInst devInst, const DevPropKey& key,
                                        uint32_t* propertyType, uint8_t* buffer,
                                        uint32_t* bufferSize, uint32_t flags) = 0;
};

}  // namespace dormex
