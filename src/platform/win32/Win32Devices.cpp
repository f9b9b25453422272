// <windows.h> comes before every other Windows header.
#include <windows.h>

#include <cfgmgr32.h>
#include <devpropdef.h>

#include <cstring>

#include "platform/win32/Win32Devices.h"

namespace dormex {

uint32_t Win32DeviceManager::LocateDevNode(DevInst* devInst, const std::u16string& instanceId,
                                           uint32_t flags)
{
    std::u16string id = instanceId;
    DEVINST native = 0;
    CONFIGRET status =
        ::CM_Locate_DevNodeW(&native, reinterpret_cast<DEVINSTID_W>(id.data()), flags);
    *devInst = native;
    return status;
}

uint32_t Win32DeviceManager::GetDevNodeProperty(DevInst devInst, const DevPropKey& key,
                                                uint32_t* propertyType, uint8_t* buffer,
                                                uint32_t* bufferSize, uint32_t flags)
{
    DEVPROPKEY native{};
    native.fmtid.Data1 = key.FmtId.Data1;
    native.fmtid.Data2 = key.FmtId.Data2;
    native.fmtid.Data3 = key.FmtId.Data3;
    std::memcpy(native.fmtid.Data4, key.FmtId.Data4.data(), 8);
    native.pid = key.Pid;
    DEVPROPTYPE type = 0;
    ULONG size = *bufferSize;
    CONFIGRET status = ::CM_Get_DevNode_PropertyW(devInst, &native, &type, buffer, &size, flags);
    *bufferSize = size;
    if (propertyType != nullptr) {
        *propertyType = type;
    }
    return status;
}

uint32_t Win32FirmwareTables::GetSystemFirmwareTable(uint32_t provider, uint32_t tableId,
                                                     void* buffer, uint32_t bufferSize)
{
    return ::GetSystemFirmwareTable(provider, tableId, buffer, bufferSize);
}

FileHandle Win32DeviceIo::CreateFileW(const std::u16string& path, uint32_t desiredAccess,
                                      uint32_t shareMode, uint32_t creationDisposition,
                                      uint32_t flagsAndAttributes)
{
    HANDLE handle = ::CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), desiredAccess, shareMode,
                                  nullptr, creationDisposition, flagsAndAttributes, nullptr);
    return handle == INVALID_HANDLE_VALUE ? InvalidFileHandle
                                          : reinterpret_cast<FileHandle>(handle);
}

bool Win32DeviceIo::DeviceIoControl(FileHandle handle, uint32_t ioControlCode, const void* input,
                                    uint32_t inputSize, void* output, uint32_t outputSize,
                                    uint32_t* bytesReturned)
{
    DWORD returned = 0;
    BOOL ok =
        ::DeviceIoControl(reinterpret_cast<HANDLE>(handle), ioControlCode, const_cast<void*>(input),
                          inputSize, output, outputSize, &returned, nullptr);
    if (bytesReturned != nullptr) {
        *bytesReturned = returned;
    }
    return ok != FALSE;
}

bool Win32DeviceIo::CloseHandle(FileHandle handle)
{
    return ::CloseHandle(reinterpret_cast<HANDLE>(handle)) != FALSE;
}

}  // namespace dormex
