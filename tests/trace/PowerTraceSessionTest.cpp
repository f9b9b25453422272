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
    std::vector<uint32_t> startStatus;  // of successive starts; 0 after the list
    uint32_t controlStatus = 0;
    uint32_t stopStatus = 0;
    std::map<size_t, uint32_t> enableStatus;  // enable call number from 1 -> status
    std::vector<uint8_t> startBlock;
    size_t enables = 0;
    size_t starts = 0;

    uint32_t StartTraceW(TraceHandle* handle, const std::u16string& name,
                         std::span<uint8_t> properties) override
    {
        calls.push_back("start " + std::string(name.begin(), name.end()));
        startBlock.assign(properties.begin(), properties.end());
        *handle = 77;
        size_t call = starts++;
        return call < startStatus.size() ? startStatus[call] : 0;
    }
    uint32_t ControlTraceW(TraceHandle handle, const std::u16string& name, std::span<uint8_t>,
                           uint32_t code) override
    {
        calls.push_back("control " + std::string(name.begin(), name.end()) + " handle " +
                        std::to_string(handle) + " code " + std::to_string(code));
        return controlStatus;
    }
    uint32_t EnableTraceEx2(TraceHandle handle, const Guid& provider, uint32_t code, uint8_t level,
                            uint64_t any, uint64_t all, uint32_t timeout) override
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
    uint32_t StopTraceW(TraceHandle handle, const std::u16string& name,
                        std::span<uint8_t> properties) override
    {
        calls.push_back("stop " + std::string(name.begin(), name.end()) + " handle " +
                        std::to_string(handle) + " block " + std::to_string(properties.size()));
        return stopStatus;
    }
};

// The capture window, in the controller's list of calls.
struct RecordingWait final : Interruption {
    explicit RecordingWait(std::vector<std::string>& calls) : calls(calls) {}
    std::vector<std::string>& calls;
    bool Requested() override { return false; }
    void Sleep(uint32_t milliseconds) override
    {
        calls.push_back("sleep " + std::to_string(milliseconds));
    }
};

const std::vector<std::string> Disables = {
    "enable PoFx code 0 level 4 any 0 all 0 timeout 0 handle 77",
    "enable PEP code 0 level 4 any 0 all 0 timeout 0 handle 77",
};
const std::string Stop = "stop mytrace4 handle 77 block 4216";

struct Session {
    test::LogCapture capture;
    RecordingController controller;
    RecordingWait wait{controller.calls};

    int32_t Run(const std::string& directory)
    {
        return RunPowerTrace(directory, capture.Log, controller, wait, capture.Files);
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

TEST(RunPowerTrace, FailuresLogAndAFailedEnableStillStopsTheSession)
{
    struct Case {
        std::vector<uint32_t> startStatus;
        uint32_t controlStatus;
        size_t failingEnable;  // 0 for none
        uint32_t stopStatus;
        int32_t status;
        size_t calls;
        std::string log;
    };
    const std::string restart =
        "\nINFORMATION:: Stopped the trace session mytrace4 that an earlier run left running; "
        "starting it again";
    auto startFailed = [](std::string code) {
        return "\nERROR:: Starting trace failed.  :: Error code: " + code +
               "\nERROR:: Starting a trace did not complete :: Error code: " + code;
    };
    const std::string cannotStop =
        "\nERROR:: Cannot stop the trace session mytrace4 left by an earlier run :: Error code: 5";
    const std::string stopFailed =
        "\nERROR:: Stopping a trace didnt complete. :: Error code: 4201"
        "\nERROR:: Stopping a trace did not complete :: Error code: 4201";
    std::vector<Case> cases = {
        // A session left by an earlier run is stopped, and the start tried once more.
        {{183}, 0, 0, 0, 0, 11, restart},
        {{183, 183}, 0, 0, 0, 183, 3, restart + startFailed("183")},
        {{183}, 5, 0, 0, 183, 2, cannotStop + startFailed("183")},
        {{5}, 0, 0, 0, 5, 1, startFailed("5")},
        {{}, 0, 0, 4201, 4201, 9, stopFailed},
        // ERROR_MORE_DATA: the session stopped, only its statistics did not fit.
        {{}, 0, 0, 234, 0, 9, ""},
    };
    const char* enables[] = {
        "Trace for PoFx didnt complete  ", "Capture state for PoFx didnt complete  ",
        "Trace for PEP didnt complete  ", "Capture state for PEP didnt complete."};
    for (size_t i = 0; i < 4; ++i) {
        std::string log = "\nERROR:: Enabling " + std::string(enables[i]) + " :: Error code: 5" +
                          "\nERROR:: Enabling a trace did not complete :: Error code: 5";
        cases.push_back({{}, 0, i + 1, 0, 5, i + 5, log});
    }
    for (const Case& c : cases) {
        Session session;
        session.controller.startStatus = c.startStatus;
        session.controller.controlStatus = c.controlStatus;
        session.controller.enableStatus[c.failingEnable] = 5;
        session.controller.stopStatus = c.stopStatus;
        EXPECT_EQ(session.Run(session.Directory()), c.status) << c.log;
        const auto& calls = session.controller.calls;
        ASSERT_EQ(calls.size(), c.calls) << c.log;
        if (c.failingEnable != 0) {
            EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end() - 1), Disables);
            EXPECT_EQ(calls.back(), Stop);
        }
        if (!c.startStatus.empty() && c.startStatus[0] == 183 && c.calls > 1) {
            EXPECT_EQ(calls[1], "control mytrace4 handle 0 code 1");
        }
        EXPECT_EQ(session.capture.Text(), c.log);
    }
}

// The session block's layout is the operating system's; the path is ours, and
// a profile named in any script reaches the trace service unchanged.
TEST(RunPowerTrace, PassesTheWholeTraceFilePathUpTo1023Characters)
{
    Session session;
    const std::string profile = session.capture.Dir.Path().string() + "\\\u042e\u043b\u0438\u044f";
    EXPECT_EQ(session.Run(profile), 0);
    const std::vector<uint8_t>& block = session.controller.startBlock;
    std::u16string expected = Utf8ToUtf16(profile) + u"\\VQTSystemTrace.etl";
    EXPECT_EQ(expected.substr(expected.size() - 23, 4), u"\u042e\u043b\u0438\u044f");
    ASSERT_EQ(block.size(), 4216u);
    EXPECT_EQ(block[112], 2168 & 0xFF);  // where the name starts
    for (size_t i = 0; i <= expected.size(); ++i) {
        char16_t unit = i < expected.size() ? expected[i] : 0;
        EXPECT_EQ(block[2168 + 2 * i] | block[2169 + 2 * i] << 8, unit);
    }

    // Far beyond MAX_PATH, as a deep profile folder may be: whole up to 1,023.
    std::vector<uint8_t> whole = BuildTraceProperties(std::u16string(300, u'x'));
    EXPECT_EQ(whole[2168 + 2 * 299], 'x');
    EXPECT_EQ(whole[2168 + 2 * 300], 0);
    std::vector<uint8_t> cut = BuildTraceProperties(std::u16string(1100, u'x'));
    EXPECT_EQ(cut[2168 + 2 * 1022], 'x');
    EXPECT_EQ(cut[2168 + 2 * 1023], 0);
}

}  // namespace
}  // namespace dormex
