#include <gtest/gtest.h>

#include "AnalysisFixture.h"
#include "analysis/StorageCases.h"

namespace dormex {
namespace {

std::string Answer(size_t nonZeroAt)
{
    std::string hex(224 * 2, '0');
    hex[nonZeroAt * 2 + 1] = '1';
    return hex;
}

std::string Ports(const std::string& ports)
{
    return R"(, "scsiPorts": {)" + ports + "}";
}

TEST(StorageCases, ProbeRunsOnlyWhenTheDriverIsDetected)
{
    struct Case {
        const char* name;
        std::string ports;
        const char* volume;       // an OS device seen by a parent rule of storage
        const char* invalidator;  // the service of a storage class invalidator
        int constrainedVolumes;
        bool probed;
        std::vector<std::string> errors;
    };
    const std::string present = Ports(R"("1": {"answer": ")" + Answer(40) + "\"}");
    const std::string absent =
        Ports(R"("0": {"ioctlFails": true}, "1": {"answer": ")" + Answer(28) + "\"}");
    const Case cases[] = {
        {"no driver", present, nullptr, nullptr, 0, false, {}},
        {"kvstor device (small k) does not count", present, "kvstorVol", nullptr, 0, false, {}},
        {"kvStor device", present, "kvStorVol", nullptr, 0, true, {"5:null:0"}},
        {"firing kvstor invalidator", present, nullptr, "kvstorsvc", 0, true, {"5:null:0"}},
        {"kvStor invalidator (capital S) ignored", present, nullptr, "kvStorsvc", 0, false, {}},
        {"cache absent", absent, "kvStorVol", nullptr, 0, true, {}},
        {"volume constrained twice", present, "kvStorVol", nullptr, 2, true, {"0:null:2"}},
    };
    for (const Case& c : cases) {
        test::AnalysisFixture fixture(c.ports);
        if (c.volume != nullptr) {
            fixture.AddRule("storage", "", "stornvme", "always", {{"3", "0"}}, true);
            fixture.AddPo(c.volume, "SWD\\KV");
        }
        if (c.invalidator != nullptr) {
            fixture.AddRule("storage", "", c.invalidator, "classInvalidator");
            fixture.AddPoFx("\\_SB.KVS0", c.invalidator);
            fixture.AddPo(c.invalidator, "ROOT\\KV");
        }
        for (int i = 0; i < c.constrainedVolumes; ++i) {
            fixture.AddPep("\\_SB.PC00.SAT0.VOL" + std::to_string(i), {3}, {0});
        }
        fixture.Check();
        EXPECT_EQ(fixture.Logged("Checking for Velomem presence"), c.probed) << c.name;
        EXPECT_EQ(fixture.Errors(), c.errors) << c.name;
    }
}

TEST(StorageProbe, AnswerBytesThatCount)
{
    for (size_t at : {28u, 31u, 72u, 223u}) {
        std::array<uint8_t, StorageProbeSize> answer{};
        answer[at] = 1;
        EXPECT_FALSE(StorageCacheAnswered(answer)) << at;
    }
    for (size_t at : {32u, 40u, 64u, 71u}) {
        std::array<uint8_t, StorageProbeSize> answer{};
        answer[at] = 1;
        EXPECT_TRUE(StorageCacheAnswered(answer)) << at;
    }
}

}  // namespace
}  // namespace dormex
