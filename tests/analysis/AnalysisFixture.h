#pragma once

#include <string>
#include <utility>
#include <vector>

#include "TestPlatform.h"
#include "analysis/Checks.h"
#include "analysis/ConstraintAnalysis.h"
#include "analysis/DeviceCorrelation.h"
#include "analysis/Findings.h"
#include "analysis/RuleMatching.h"
#include "rules/RuleSet.h"
#include "sysinfo/SystemInfo.h"
#include "trace/RundownLists.h"

namespace dormex::test {

// The records of one analysis built by hand, with a replayed machine for the
// registry and the SCSI ports.
struct AnalysisFixture {
    explicit AnalysisFixture(const std::string& snapshotMembers = "")
        : machine(ParseSnapshotOrFail(R"({"format": "dormex-machine/1")" + snapshotMembers + "}"),
                  capture.Files),
          services(machine.PlatformWith(capture.Console))
    {
        rules.OsEntries.emplace_back();
        system.OsBuild = "22631";
    }

    LogCapture capture;
    ReplayMachine machine;
    Platform services;
    RundownLists rundowns;
    DevicePropertiesByInstancePath devices;
    RuleSet rules;
    SystemInfo system;
    ConstraintAnalysis analysis;
    ErrorRegistry errors;

    PoFxDeviceRundown& AddPoFx(std::string id, std::string service = "", std::string path = "")
    {
        rundowns.PoFxRundownList.push_back({0, std::move(id), std::move(path), std::move(service)});
        return rundowns.PoFxRundownList.back();
    }
    // A PEP device with its D-states and, when F-states are given, its component.
    void AddPep(const std::string& name, std::vector<int32_t> d, std::vector<int32_t> f = {})
    {
        PepDeviceRundown device{"0x1", name, 1, {}};
        for (size_t i = 0; i < d.size() && i < 3; ++i)
            device.PowerStates[i] = d[i];
        rundowns.PepDeviceRundownList.push_back(device);
        if (!f.empty()) {
            PepComponentRundown component{"0x1", name, 1, {}};
            for (size_t i = 0; i < f.size() && i < 3; ++i)
                component.PowerStates[i] = f[i];
            rundowns.PepComponentRundownList.push_back(component);
        }
    }
    PoDeviceEntry& AddPo(std::string friendlyName, std::string path)
    {
        rundowns.PoDeviceList.push_back({"0xFFFF0001", std::move(path), std::move(friendlyName)});
        return rundowns.PoDeviceList.back();
    }
    DeviceProperties& AddDevice(const std::string& path, std::string description,
                                std::string parent = "", int32_t problem = 0)
    {
        DeviceProperties& record = devices[path];
        record.DeviceDesc = std::move(description);
        record.Parent = std::move(parent);
        record.ProblemCode = problem;
        return record;
    }
    Rule& AddRule(std::string className, std::string regex, std::string service, std::string type,
                  std::vector<std::pair<std::string, std::string>> states = {{"3", "0"}},
                  bool onParent = false, size_t entry = 0)
    {
        Rule rule;
        rule.Class = std::move(className);
        rule.Regex = std::move(regex);
        rule.ServiceName = std::move(service);
        rule.RuleType = std::move(type);
        rule.RuleOnParent = onParent ? "1" : "";
        rule.PlatformStateCount = static_cast<int32_t>(states.size());
        for (size_t i = 0; i < states.size(); ++i) {
            rule.PlatformStates.push_back(
                {static_cast<int32_t>(i), states[i].first, states[i].second});
        }
        while (rules.OsEntries.size() <= entry)
            rules.OsEntries.emplace_back();
        rules.OsEntries[entry].Rules.push_back(std::move(rule));
        return rules.OsEntries[entry].Rules.back();
    }

    void Fill()
    {
        FillPoFxMap(analysis, rundowns, capture.Log);
        FillPepDeviceMap(analysis, rundowns, capture.Log);
        FillPepComponentMap(analysis, rundowns, capture.Log);
    }
    void Match()
    {
        Fill();
        MatchRules(analysis, rules, system, rundowns, devices, capture.Log, services.registry);
    }
    void Check()
    {
        Match();
        RunChecks(analysis, rundowns, devices, errors, capture.Log, services.deviceIo);
    }
    std::string Log() const { return capture.Text(); }
    bool Logged(const std::string& line) const { return Log().find(line) != std::string::npos; }
    // The keys of the devices a rule's Cdr took, by rule position (the last is NIL).
    std::vector<std::string> KeysOf(size_t cdr) const
    {
        std::vector<std::string> keys;
        for (const DeviceMatch* match : analysis.CdrList.at(cdr).DeviceMatches) {
            for (const auto& [key, entry] : analysis.DeviceMap) {
                if (entry.get() == match) keys.push_back(key);
            }
        }
        return keys;
    }
    // "type:rule class:device count" for every error, in list order.
    std::vector<std::string> Errors() const
    {
        std::vector<std::string> summary;
        for (const ReportError& error : errors.ErrorList) {
            summary.push_back(std::to_string(error.Type) + ":" +
                              (error.Rule != nullptr ? error.Rule->Class : "null") + ":" +
                              std::to_string(error.Devices.size() + error.PoDevices.size()));
        }
        return summary;
    }
};

}  // namespace dormex::test
