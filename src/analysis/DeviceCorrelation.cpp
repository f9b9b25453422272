#include "analysis/DeviceCorrelation.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "log/DebugLog.h"
#include "rules/RuleSet.h"
#include "trace/RundownLists.h"

namespace dormex {

namespace {

// A PEP name ending in "*" is looked up without it.
std::string LookupText(const std::string& name)
{
    if (!name.empty() && name.back() == '*') {
        return name.substr(0, name.size() - 1);
    }
    return name;
}

// The device map's keys by each run of three bytes they hold: a name is
// looked for only in the keys that hold the rarest of its runs, not in every
// key. Shorter names are looked for in every key.
class KeyIndex {
public:
    static constexpr size_t RunLength = 3;

    explicit KeyIndex(const ConstraintAnalysis& analysis)
    {
        for (const auto& entry : analysis.DeviceMap) {
            Add(entry.first);
        }
    }

    // `key` lives in the map's node, which stays where it is.
    void Add(const std::string& key)
    {
        for (size_t i = 0; i + RunLength <= key.size(); ++i) {
            std::vector<const std::string*>& keys = keys_[RunOf(key, i)];
            if (keys.empty() || keys.back() != &key) {
                keys.push_back(&key);
            }
        }
    }

    // The smallest key holding `text`, which has at least RunLength bytes;
    // null when none does.
    const std::string* SmallestHolding(std::string_view text) const
    {
        const std::vector<const std::string*>* rarest = nullptr;
        for (size_t i = 0; i + RunLength <= text.size(); ++i) {
            auto found = keys_.find(RunOf(text, i));
            if (found == keys_.end()) {
                return nullptr;
            }
            if (rarest == nullptr || found->second.size() < rarest->size()) {
                rarest = &found->second;
            }
        }
        const std::string* smallest = nullptr;
        for (const std::string* key : *rarest) {
            if ((smallest == nullptr || *key < *smallest) && key->find(text) != std::string::npos) {
                smallest = key;
            }
        }
        return smallest;
    }

private:
    static uint32_t RunOf(std::string_view text, size_t at)
    {
        return static_cast<uint32_t>(static_cast<unsigned char>(text[at])) << 16 |
               static_cast<uint32_t>(static_cast<unsigned char>(text[at + 1])) << 8 |
               static_cast<unsigned char>(text[at + 2]);
    }

    std::unordered_map<uint32_t, std::vector<const std::string*>> keys_;
};

// The record under `text`, else under the first key in the map's order that
// contains it, else none. The index is made when a name is first not found.
DeviceMatch* FindDeviceMatch(ConstraintAnalysis& analysis, std::optional<KeyIndex>& index,
                             const std::string& text, DebugLog& log)
{
    auto exact = analysis.DeviceMap.find(text);
    if (exact != analysis.DeviceMap.end()) {
        return exact->second.get();
    }
    log.WriteLog(LogLevel::Information, "Key not found for " + text, 0);
    if (text.size() >= KeyIndex::RunLength) {
        if (!index) {
            index.emplace(analysis);
        }
        const std::string* key = index->SmallestHolding(text);
        return key == nullptr ? nullptr : analysis.DeviceMap.find(*key)->second.get();
    }
    for (const auto& [key, match] : analysis.DeviceMap) {
        if (key.find(text) != std::string::npos) {
            return match.get();
        }
    }
    return nullptr;
}

template <typename Rundown>
void FillPepMap(ConstraintAnalysis& analysis, const std::deque<Rundown>& rundowns,
                std::string Rundown::*name, const Rundown* DeviceMatch::*slot, const char* kind,
                DebugLog& log)
{
    std::optional<KeyIndex> index;
    for (const Rundown& rundown : rundowns) {
        const std::string& key = rundown.*name;
        DeviceMatch* match = FindDeviceMatch(analysis, index, LookupText(key), log);
        if (match == nullptr) {
            auto inserted = analysis.DeviceMap.emplace(key, std::make_unique<DeviceMatch>());
            if (index) {
                index->Add(inserted.first->first);
            }
            match = inserted.first->second.get();
            log.WriteLog(LogLevel::Information,
                         std::string("NEW MAP ENTRY:: added ") + kind + " entry with ID: " + key,
                         0);
        }
        match->*slot = &rundown;
        log.WriteLog(LogLevel::Information,
                     std::string("EXISTING MAP ENTRY:: added ") + kind + " entry with ID: " + key,
                     0);
    }
}

}  // namespace

int32_t FillPoFxMap(ConstraintAnalysis& analysis, const RundownLists& rundowns, DebugLog& log)
{
    for (const PoFxDeviceRundown& rundown : rundowns.PoFxRundownList) {
        auto [entry, inserted] = analysis.DeviceMap.try_emplace(rundown.DeviceId);
        if (inserted) {
            entry->second = std::make_unique<DeviceMatch>();
            log.WriteLog(LogLevel::Information,
                         "NEW MAP ENTRY:: added PoFx entry with ID: " + rundown.DeviceId, 0);
        }
        entry->second->PoFxDevice = &rundown;
        log.WriteLog(LogLevel::Information,
                     "EXISTING MAP ENTRY:: added PoFx entry with ID: " + rundown.DeviceId, 0);
    }
    return 0;
}

int32_t FillPepDeviceMap(ConstraintAnalysis& analysis, const RundownLists& rundowns, DebugLog& log)
{
    FillPepMap(analysis, rundowns.PepDeviceRundownList, &PepDeviceRundown::DeviceName,
               &DeviceMatch::PepDevice, "PEPD", log);
    return 0;
}

int32_t FillPepComponentMap(ConstraintAnalysis& analysis, const RundownLists& rundowns,
                            DebugLog& log)
{
    FillPepMap(analysis, rundowns.PepComponentRundownList,
               &PepComponentRundown::ComponentDescription, &DeviceMatch::PepComponent, "PEPC", log);
    return 0;
}

}  // namespace dormex
