#include <gtest/gtest.h>

#include <map>

#include "TestPlatform.h"
#include "common/Text.h"
#include "platform/TraceProviders.h"
#include "trace/PowerTraceSession.h"

namespace dormex {
namespace {

// Records every call; a call's status can be set by its position.
class RecordingController final : public EventTraceController {
public:
    std::vector<std::string> calls;
    uint32_t startStatus = 0;
    uint32_t stopStatus = 0;
    std::map<size_t, uint32_t> enableStatus;  // enable call number from 1 -> status
    std::vector<uint8_t> startBlock;
    size_t enables = 0;

    uint32_t StartTrace(TraceHandle* handle, const std::u16string& name,
                        std::span<uint8_t> properties) override
    {
        calls.push_back("start " + std::string(name.begin(), name.end()));
        startBlock.assign(properties.begin(), properties.end());
        *handle = 77;
        return startStatus;
    }
    uint32_t EnableTraceEx2(TraceHandle handle, const Guid& provider, uint32_t code,
                            uint8_t level, uint64_t any, uint64_t all, uint32_t timeout) override
    {
        std::string name = provider == KernelPowerProvider ? "PoFx"
                           : provider == KernelPepProvider ? "PEP"
                                                           : "?";
        calls.push_back("enable " + name + " code " + std::to_string(code) + " level " +
                        std::to_string(level) + " any " + std::to_string(any) + " all " +
                        std::to_string(all) + " timeout " + std::to_string(timeout) + " handle " +
                        std::to_string(handle));
        auto status = enableStatus.find(++enables);
        return status != enableStatus.end() ? status->second : 0;
    }
    uint32_t StopTrace(TraceHandle handle, const std::u16string& name,
                       std::span<uint8_t> properties) override
    {
        calls.push_back("stop " + std::string(name.begin(), name.end()) + " handle " +
                        std::to_string(handle) + " block " + std::to_string(properties.size()));
        return stopStatus;
    }
    void Sleep(uint32_t milliseconds) override
    {
        calls.push_back("sleep " + std::to_string(milliseconds));
    }
};

const std::vector<std::string> Disables = {
    "enable PoFx code 0 level 4 any 0 all 0 timeout 0 handle 77",
    "enable PEP code 0 level 4 any 0 all 0 timeout 0 handle 77",
};
const std::string Stop = "stop mytrace4 handle 77 block 2688";

struct Session {
    test::LogCapture capture;
    RecordingController controller;

    int32_t Run(const std::string& directory)
    {
        return RunPowerTrace(directory, capture.Log, controller, capture.Files);
    }
    std::string Directory() const { return capture.Dir.Path().string() + "\\profile"; }
};

TEST(RunPowerTrace, EnablesCapturesWaitsDisablesAndStops)
{
    Session session;
    EXPECT_EQ(session.Run(session.Directory()), 0);
    std::vector<std::string> expected = {
        "start mytrace4",
        "enable PoFx code 1 level 4 any 0 all 0 timeout 0 handle 77",
        "enable PoFx code 2 level 4 any 0 all 0 timeout 0 handle 77",
        "enable PEP code 1 level 5 any 1 all 0 timeout 0 handle 77",
        "enable PEP code 2 level 5 any 1 all 0 timeout 0 handle 77",
        "sleep 5000",
    };
    expected.insert(expected.end(), Disables.begin(), Disables.end());
    expected.push_back(Stop);
    EXPECT_EQ(session.controller.calls, expected);
    EXPECT_EQ(session.capture.Text(), "");
}

TEST(RunPowerTrace, RefusesAPathWhoseParentIsMissing)
{
    for (std::string directory : {std::string(), std::string("/nonexistent-dormex\\profile"),
                                  std::string("relative-without-backslash")}) {
        Session session;
        EXPECT_EQ(session.Run(directory), 3) << directory;
        EXPECT_TRUE(session.controller.calls.empty());
        EXPECT_EQ(session.capture.Text(),
                  "\nERROR:: Wrong file path was provided for trace collection :: Error code: 3");
    }
}

TEST(RunPowerTrace, FailedEnableSkipsTheRestButStillStopsTheSession)
{
    struct Case {
        size_t failingCall;
        const char* message;
    };
    const Case cases[] = {
        {1, "Enabling Trace for PoFx didnt complete  "},
        {2, "Enabling Capture state for PoFx didnt complete  "},
        {3, "Enabling Trace for PEP didnt complete  "},
        {4, "Enabling Capture state for PEP didnt complete."},
    };
    for (const Case& c : cases) {
        Session session;
        session.controller.enableStatus[c.failingCall] = 5;
        EXPECT_EQ(session.Run(session.Directory()), 5);
        const auto& calls = session.controller.calls;
        ASSERT_EQ(calls.size(), 1 + c.failingCall + 2 + 1) << c.message;
        EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end() - 1), Disables);
        EXPECT_EQ(calls.back(), Stop);
        EXPECT_EQ(session.capture.Text(), std::string("\nERROR:: ") + c.message +
                                              " :: Error code: 5"
                                              "\nERROR:: Enabling a trace did not complete :: "
                                              "Error code: 5");
    }
}

TEST(RunPowerTrace, StartAndStopFailures)
{
    Session starting;
    starting.controller.startStatus = 183;
    EXPECT_EQ(starting.Run(starting.Directory()), 183);
    EXPECT_EQ(starting.controller.calls, std::vector<std::string>{"start mytrace4"});
    EXPECT_EQ(starting.capture.Text(),
              "\nERROR:: Starting trace failed.  :: Error code: 183"
              "\nERROR:: Starting a trace did not complete :: Error code: 183");

    Session stopping;
    stopping.controller.stopStatus = 4201;
    EXPECT_EQ(stopping.Run(stopping.Directory()), 4201);
    EXPECT_EQ(stopping.capture.Text(),
              "\nERROR:: Stopping a trace didnt complete. :: Error code: 4201"
              "\nERROR:: Stopping a trace did not complete :: Error code: 4201");
}

uint32_t At(const std::vector<uint8_t>& block, size_t offset)
{
    return uint32_t(block[offset]) | uint32_t(block[offset + 1]) << 8 |
           uint32_t(block[offset + 2]) << 16 | uint32_t(block[offset + 3]) << 24;
}

TEST(BuildTraceProperties, LaysOutTheSessionBlock)
{
    std::vector<uint8_t> block = BuildTraceProperties(u"C:\\Users\\ana\\VQTSystemTrace.etl");
    ASSERT_EQ(block.size(), 2688u);
    const std::pair<size_t, uint32_t> fields[] = {
        {0, 2688}, {4, 0},   {8, 0},      {12, 0},         {16, 0},   {20, 0},    {24, 0},
        {40, 0},   {44, 0x20000}, {48, 512}, {52, 1024}, {56, 1024}, {60, 100},
        {64, 0x02000001}, {68, 0}, {72, 0}, {76, 0}, {112, 2168}, {116, 120},
    };
    for (const auto& [offset, value] : fields) {
        EXPECT_EQ(At(block, offset), value) << "offset " << offset;
    }
    std::u16string name;
    for (size_t i = 2168; block[i] != 0 || block[i + 1] != 0; i += 2) {
        name.push_back(static_cast<char16_t>(block[i] | block[i + 1] << 8));
    }
    EXPECT_EQ(name, u"C:\\Users\\ana\\VQTSystemTrace.etl");

    std::u16string longPath(300, u'x');
    std::vector<uint8_t> cut = BuildTraceProperties(longPath);
    EXPECT_EQ(cut[2168 + 2 * 258], 'x');
    EXPECT_EQ(cut[2168 + 2 * 259], 0);
    EXPECT_EQ(cut.size(), 2688u);
}

TEST(RunPowerTrace, PassesTheBlockWithTheTraceFilePath)
{
    Session session;
    session.Run(session.Directory());
    const std::vector<uint8_t>& block = session.controller.startBlock;
    std::u16string expected = Widen(session.Directory() + "\\VQTSystemTrace.etl");
    ASSERT_EQ(block.size(), 2688u);
    EXPECT_EQ(block[2168], expected[0]);
    EXPECT_EQ(block[2168 + 2 * (expected.size() - 1)], expected.back());
    EXPECT_EQ(block[2168 + 2 * expected.size()], 0);
}

}  // namespace
}  // namespace dormex
