// Every Win32 service called through its concrete class, as the program calls
// it through its interface: a method whose name a <windows.h> macro changed in
// one file only would not link here. The answers are what Wine gives and what
// a real Windows machine gives alike.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>

#include "TestFiles.h"
#include "common/StatusCodes.h"
#include "platform/DevicePropertyKeys.h"
#include "platform/NativeProcess.h"
#include "platform/win32/Win32FileSystem.h"
#include "platform/win32/Win32Machine.h"
#include "trace/PowerTraceSession.h"

namespace dormex {
namespace {

constexpr uint32_t FileAttributeDirectory = 0x10;

TEST(Win32Services, RegistryAnswersTheProcessorKeyAndItsSize)
{
    Win32Registry registry;
    const std::string key = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
    uint32_t size = 0;
    ASSERT_EQ(registry.GetValue(key, "Identifier", RegistryTypeSz, nullptr, &size), 0u);
    ASSERT_GT(size, 1u);
    std::string text(size, '\0');
    EXPECT_EQ(registry.GetValue(key, "Identifier", RegistryTypeSz, text.data(), &size), 0u);
    EXPECT_NE(text.find("Family"), std::string::npos) << text;
    EXPECT_EQ(registry.GetValue(key, "NoSuchValue", RegistryTypeSz, nullptr, &size), 2u);
}

TEST(Win32Services, PowerCapabilitiesAndTheAdministratorCheck)
{
    Win32PowerInformation power;
    std::array<uint8_t, SystemPowerCapabilitiesSize> capabilities{};
    EXPECT_EQ(power.CallNtPowerInformation(SystemPowerCapabilities, nullptr, 0, capabilities.data(),
                                           SystemPowerCapabilitiesSize),
              0);

    Win32Security security;
    SidHandle sid = nullptr;
    ASSERT_TRUE(security.AllocateAndInitializeSid(NtAuthority, 2,
                                                  {BuiltinDomainRid, AliasRidAdmins}, &sid));
    bool member = false;
    EXPECT_TRUE(security.CheckTokenMembership(sid, &member));
    security.FreeSid(sid);
}

TEST(Win32Services, FilesAndEnvironment)
{
    Win32FileSystem files;
    test::TempDir dir;
    const std::string folder = dir.Path().string();
    ASSERT_EQ(_putenv_s("DORMEX_TEST_VALUE", "Jos\xC3\xA9"), 0);
    EXPECT_EQ(files.GetEnvironmentVariableA("DORMEX_TEST_VALUE", nullptr, 0), 6u);
    std::array<char, 16> value{};
    EXPECT_EQ(files.GetEnvironmentVariableA("DORMEX_TEST_VALUE", value.data(), 16), 5u);
    EXPECT_EQ(std::string(value.data()), "Jos\xC3\xA9");
    EXPECT_EQ(files.GetEnvironmentVariableA("DORMEX_NO_SUCH_VARIABLE", value.data(), 16), 0u);

    EXPECT_EQ(files.GetFileAttributesA(folder) & FileAttributeDirectory, FileAttributeDirectory);
    EXPECT_EQ(files.GetFileAttributesW(u"C:\\no-such-folder-dormex"), InvalidFileAttributes);
    std::array<char, 4096> current{};
    EXPECT_GT(files.GetCurrentDirectoryA(4096, current.data()), 0u);

    const std::string file = folder + "\\scratch.txt";
    std::ofstream(files.NativePath(file)) << "x";
    EXPECT_EQ(files.Stat(file), 0);
    EXPECT_TRUE(files.DeleteFileA(file));
    EXPECT_NE(files.Stat(file), 0);
    EXPECT_FALSE(files.DeleteFileA(file));
}

TEST(Win32Services, TraceControllerAndConsumer)
{
    Win32EventTraceController controller;
    test::TempDir dir;
    std::vector<uint8_t> block = BuildTraceProperties(u"C:\\no-such-folder-dormex\\t.etl");
    TraceHandle handle = 0;
    uint32_t started = controller.StartTraceW(&handle, u"dormex-test", block);
    // Wine's controller is a stub that succeeds; Windows wants an administrator
    // and a folder that exists.
    EXPECT_TRUE(started == 0 || started == ErrorAccessDenied || started == ErrorPathNotFound)
        << started;
    if (started == 0) {
        controller.EnableTraceEx2(handle, Guid{}, ControlCodeDisableProvider, 4, 0, 0, 0);
        block = BuildTraceProperties(u"");
        controller.ControlTraceW(0, u"dormex-test", block, EventTraceControlStop);
        controller.StopTraceW(handle, u"dormex-test", block);
    }

    Win32EventTraceConsumer consumer;
    EventTraceLogfile logfile;
    logfile.LogFileName = u"C:\\no-such-folder-dormex\\t.etl";
    logfile.ProcessTraceMode = ProcessTraceModeEventRecord;
    EXPECT_EQ(consumer.OpenTraceW(logfile), InvalidProcessTraceHandle);
    EXPECT_NE(consumer.GetLastError(), 0u);
    EXPECT_NE(consumer.ProcessTrace(InvalidProcessTraceHandle), 0u);
    EXPECT_NE(consumer.CloseTrace(InvalidProcessTraceHandle), 0u);
}

TEST(Win32Services, OneRunAtATimeAndAConsoleNotInterrupted)
{
    std::unique_ptr<NativeProcess> first = StartNativeProcess();
    ASSERT_FALSE(first->Refusal()) << first->Refusal()->Message;
    EXPECT_FALSE(first->ConsoleInterruption().Requested());
    first->ConsoleInterruption().Sleep(1);

    std::unique_ptr<NativeProcess> second = StartNativeProcess();
    ASSERT_TRUE(second->Refusal());
    EXPECT_EQ(second->Refusal()->Code, 170);
    EXPECT_EQ(second->Refusal()->Message,
              "another Dormex run is in progress on this machine; wait for it to end, then run "
              "again");
    second.reset();
    first.reset();
    EXPECT_FALSE(StartNativeProcess()->Refusal());
}

TEST(Win32Services, TdhRefusesAnEventItCannotDescribe)
{
    if (std::getenv("DORMEX_UNDER_WINE") != nullptr) {
        GTEST_SKIP() << "Wine's tdh.dll does not implement TdhGetEventInformation";
    }
    Win32Tdh tdh;
    alignas(8) std::array<uint8_t, 512> nativeEvent{};
    EventRecord event;
    event.Native = nativeEvent.data();
    uint32_t size = 0;
    EXPECT_NE(tdh.GetEventInformation(event, nullptr, &size), 0u);
    EXPECT_NE(tdh.GetEventMapInformation(event, u"NoSuchMap", nullptr, &size), 0u);
}

TEST(Win32Services, DevicesFirmwareTablesAndDeviceIo)
{
    Win32DeviceManager devices;
    DevInst devInst = 0;
    EXPECT_NE(
        devices.LocateDevNode(&devInst, u"ROOT\\DORMEX_NO_SUCH_DEVICE\\0000", LocateDevNodeNormal),
        CrSuccess);
    uint32_t type = 0;
    uint32_t size = 0;
    EXPECT_NE(devices.GetDevNodeProperty(0, DevicePropertyKeys[0].Key, &type, nullptr, &size, 0),
              CrSuccess);

    Win32FirmwareTables firmware;
    uint32_t needed =
        firmware.GetSystemFirmwareTable(FirmwareProviderAcpi, AcpiTableLpit, nullptr, 0);
    if (needed > 0) {  // a real machine with Modern Standby has one; Wine has none
        std::vector<uint8_t> table(needed);
        EXPECT_EQ(firmware.GetSystemFirmwareTable(FirmwareProviderAcpi, AcpiTableLpit, table.data(),
                                                  needed),
                  needed);
        EXPECT_EQ(std::string(table.begin(), table.begin() + 4), "LPIT");
    }

    Win32DeviceIo deviceIo;
    EXPECT_EQ(deviceIo.CreateFileW(u"\\\\.\\Scsi97:", GenericReadWrite, 0, OpenExisting, 0),
              InvalidFileHandle);
    test::TempDir dir;
    const std::filesystem::path file = dir.Path() / "port.bin";
    std::ofstream(file) << "x";
    FileHandle handle =
        deviceIo.CreateFileW(file.u16string(), GenericReadWrite, 0, OpenExisting, 0);
    ASSERT_NE(handle, InvalidFileHandle);
    std::array<uint8_t, 8> buffer{};
    uint32_t returned = 0;
    EXPECT_FALSE(deviceIo.DeviceIoControl(handle, IoctlScsiMiniport, buffer.data(), 8,
                                          buffer.data(), 8, &returned));
    EXPECT_TRUE(deviceIo.CloseHandle(handle));
}

}  // namespace
}  // namespace dormex
