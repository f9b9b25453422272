#include "SyntheticMachine.h"

#include <array>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "rules/RuleSet.h"

namespace dormex::bench {

namespace {

using Json = nlohmann::json;

std::string Hex(int value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

// Event properties as the snapshot has them: [name, value] pairs in order.
Json Pairs(std::initializer_list<std::pair<std::string, std::string>> properties)
{
    Json pairs = Json::array();
    for (const auto& [name, value] : properties) {
        pairs.push_back(Json::array({name, value}));
    }
    return pairs;
}

Json Event(const char* provider, int id, Json properties)
{
    return Json{{"provider", provider}, {"id", id}, {"properties", std::move(properties)}};
}

std::string RuleType(int rule)
{
    switch (rule % 10) {
    case 3:
        return "dynamic";
    case 6:
        return "notRequired";
    case 9:
        return "requiredNo";
    default:
        return "always";
    }
}

// The makers of the synthetic drivers.
constexpr std::array<const char*, 4> Providers = {"Halvorsen Systems", "Zephlink Semiconductor",
                                                  "Brindle Wireless", "Microsoft"};

}  // namespace

SyntheticMachine GenerateSyntheticMachine(int devices, int rules)
{
    Json registrations = Json::array();
    Json osDevices = Json::array();
    Json pep = Json::array();
    Json properties = Json::object();
    for (int i = 0; i < devices; ++i) {
        int group = i % rules;
        std::string acpi = "\\_SB.PC00.G" + std::to_string(group) + "D" + std::to_string(i);
        std::string path = "PCI\\VEN_1A2B&DEV_" + Hex(i) +
                           "&SUBSYS_00011A2B&REV_01\\3&11583659&0&" + std::to_string(i);
        std::string service = "svc" + std::to_string(group);
        const char* power = "Microsoft-Windows-Kernel-Power";
        const char* platform = "Microsoft-Windows-Kernel-Pep";
        registrations.push_back(Event(power, 320,
                                      Pairs({{"DeviceId", acpi},
                                             {"InstancePath", path},
                                             {"ServiceName", service},
                                             {"DeviceNode", std::to_string(4096 + i)}})));
        osDevices.push_back(Event(power, 136,
                                  Pairs({{"DeviceNode", "0xFFFF9A0C" + Hex(i) + "2D50"},
                                         {"InstancePath", path},
                                         {"FriendlyName", service}})));
        if (i % 5 != 0) {
            std::string handle = "0x" + Hex(i + 1);
            pep.push_back(Event(platform, 2,
                                Pairs({{"DeviceId", handle},
                                       {"DeviceName", acpi},
                                       {"PlatformStateDependencyCount", "2"},
                                       {"PowerState", "3"},
                                       {"PowerState", "3"}})));
            pep.push_back(Event(platform, 3,
                                Pairs({{"DeviceId", handle},
                                       {"ComponentDescription", acpi},
                                       {"PlatformStateDependencyCount", "2"},
                                       {"PowerState", "0"},
                                       {"PowerState", i % 7 == 0 ? "1" : "0"}})));
        }
        properties[path] = {
            {"Class", "System"},
            {"DeviceDesc", "Synthetic Device " + std::to_string(i)},
            {"Driver", "{4d36e97d-e325-11ce-bfc1-08002be10318}\\" + Hex(i)},
            {"DriverInfPath", "oem" + std::to_string(i % 40) + ".inf"},
            {"DriverProvider", Providers[static_cast<size_t>(i) % Providers.size()]},
            {"DriverVersion", "10.0.22621." + std::to_string(i)},
            {"HardwareIds", {path.substr(0, path.find('\\', 4)), "PCI\\VEN_1A2B"}},
            {"InstanceId", path},
            {"LocationPaths", {"PCIROOT(0)#PCI(" + Hex(i) + ")"}},
            {"Parent", "ACPI\\PNP0A08\\0"},
            {"ProblemCode", i % 97 == 0 ? 28 : 0},
            {"Service", service}};
    }
    Json events = Json::array();
    for (Json* list : {&registrations, &osDevices, &pep}) {
        for (Json& event : *list)
            events.push_back(std::move(event));
    }
    Json snapshot = {
        {"format", "dormex-machine/1"},
        {"description", "synthetic machine of " + std::to_string(devices) + " devices"},
        {"registry",
         {{"hardware\\description\\system\\centralprocessor\\0",
           {{"Identifier", "x64 Family 6 Model 77 Stepping 1"}}},
          {"software\\microsoft\\windows nt\\currentversion", {{"CurrentBuildNumber", "22631"}}},
          {"hardware\\description\\system\\bios",
           {{"biosversion", "SYN.1"},
            {"biosvendor", "Synthetic"},
            {"biosreleasedate", "01/01/2026"}}}}},
        {"events", std::move(events)},
        {"devices", std::move(properties)},
    };

    std::string xml =
        "<?xml version=\"1.0\"?>\n<platform name=\"Synthetic\">\n<os build=\"22631\">\n";
    for (int k = 0; k < rules; ++k) {
        std::string service = k % 2 == 0 ? "svc" + std::to_string(k) : "";
        xml +=
            "<rule><class>" +
            std::string(RuleClassNames[static_cast<size_t>(k) % RuleClassNames.size()]) +
            "</class><regex>.*\\.G" + std::to_string(k) + "D[0-9]+</regex><servicename>" + service +
            "</servicename><ruletype>" + RuleType(k) +
            "</ruletype><platformstatecount>2</platformstatecount>"
            "<platformstate><platformstateindex>0</platformstateindex><Dstate>3</Dstate><Fstate>0</Fstate></platformstate>"
            "<platformstate><platformstateindex>1</platformstateindex><Dstate>3</Dstate><Fstate>0</Fstate></platformstate>"
            "</rule>\n";
    }
    xml += "</os>\n</platform>\n";
    return {snapshot.dump(), xml};
}

}  // namespace dormex::bench
