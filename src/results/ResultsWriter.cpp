#include "results/ResultsWriter.h"

#include <array>
#include <cstdio>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "analysis/ConstraintAnalysis.h"
#include "common/Text.h"
#include "common/Version.h"
#include "lpit/Lpit.h"
#include "results/RunOutcome.h"
#include "rules/RuleSet.h"
#include "sysinfo/SystemInfo.h"
#include "trace/RundownLists.h"

namespace dormex {

namespace {

// Members stay in the order they are written.
using Json = nlohmann::ordered_json;

// Who the report's description of each kind asks to act.
constexpr std::array<std::string_view, ErrorTypeNames.size()> ActionBy = {
    "driver vendor",  // the driver did not register with PoFx
    "BIOS",           // no constraint for the class: system BIOS contacts
    "BIOS",           // wrong D-states or F-states: the BIOS vendor
    "BIOS",           // a constraint to add: system BIOS contacts
    "BIOS",           // a constraint to remove from the PEP device's ASL scope
    "driver vendor",  // the storage cache: its driver representative
    "driver vendor",  // a problem code: the device's driver vendor
    "BIOS",           // a PCI constraint to remove from the ASL scope
};

// Who a finding of this kind asks to act; empty for a kind the report does
// not know.
std::string_view ActionByOf(int32_t kind)
{
    return kind >= 0 && static_cast<size_t>(kind) < ActionBy.size()
               ? ActionBy[static_cast<size_t>(kind)]
               : "";
}

Json Machine(const SystemInfo& info)
{
    return {
        {"cpu",
         {{"architecture", info.CpuArchitecture},
          {"family", info.CpuFamily},
          {"model", info.CpuModel},
          {"stepping", info.CpuStepping}}},
        {"osBuild", info.OsBuild},
        {"osName", OsName(info)},
        {"bios",
         {{"vendor", info.BiosVendor},
          {"version", info.BiosVersion},
          {"releaseDate", info.BiosReleaseDate}}},
        {"aoac", info.AoAc},
        {"manufacturer", info.Manufacturer},
        {"productName", info.ProductName},
    };
}

Json RuleFile(const RunOutcome& outcome)
{
    if (outcome.RuleFile.empty()) {
        return nullptr;
    }
    return {{"path", outcome.RuleFile},
            {"chosenBy", outcome.UseTestRuleFile ? "test-switch" : "machine"}};
}

Json Outcome(const RunOutcome& outcome)
{
    if (!outcome.Stop) {
        return {{"result", "completed"}, {"code", 0}};
    }
    return {{"result", "stopped"},
            {"stop", outcome.Stop->Name},
            {"code", outcome.Stop->Code},
            {"message", outcome.Stop->Message}};
}

std::string Hex(uint64_t value)
{
    return "0x" + NumberAsHex(value);
}

Json Address(const GenericAddress& address)
{
    return {{"addressSpaceId", address.AddressSpaceId},
            {"registerBitWidth", address.RegisterBitWidth},
            {"registerBitOffset", address.RegisterBitOffset},
            {"accessSize", address.AccessSize},
            {"address", Hex(address.Address)}};
}

Json Lpit(const LpitTable& table, const std::string& statusText, const RunOutcome& outcome)
{
    if (!outcome.LpitRead) {
        return {{"read", false},
                {"reason",
                 statusText.empty() ? "The run stopped before it read the LPIT." : statusText}};
    }
    Json states = Json::array();
    for (const LpitDescriptor& descriptor : table.Descriptors) {
        states.push_back({{"uniqueId", descriptor.UniqueId},
                          {"type", descriptor.Type},
                          {"flags", descriptor.Flags},
                          {"residency", descriptor.Residency},
                          {"latency", descriptor.Latency},
                          {"entryTrigger", Address(descriptor.EntryTrigger)},
                          {"residencyCounter", Address(descriptor.ResidencyCounter)},
                          {"residencyCounterFrequency", descriptor.ResidencyCounterFrequency}});
    }
    return {{"read", true}, {"states", states}};
}

// The D-states and F-states the rule expects, read as the checks read them.
Json ExpectedStates(const Rule& rule)
{
    Json states = Json::array();
    for (int32_t i = 0;
         i < rule.PlatformStateCount && static_cast<size_t>(i) < rule.PlatformStates.size(); ++i) {
        const PlatformStateConstraint& state = rule.PlatformStates[static_cast<size_t>(i)];
        states.push_back({{"D", ReadDecimal(state.DState)}, {"F", ReadDecimal(state.FState)}});
    }
    return states;
}

// The states the PEP declares for the device; F is null without a component.
Json ActualStates(const DeviceMatch& match)
{
    const PepDeviceRundown& device = *match.PepDevice;
    Json states = Json::array();
    for (size_t j = 0; j < device.PlatformStateDependencyCount && j < device.PowerStates.size();
         ++j) {
        Json f = match.PepComponent != nullptr ? Json(match.PepComponent->PowerStates[j]) : Json();
        states.push_back({{"D", device.PowerStates[j]}, {"F", f}});
    }
    return states;
}

// Where a finding's PnP device is looked up: by instance path, or for an ACPI
// name through the ACPI location path the device manager gives the device.
class DeviceDirectory {
public:
    explicit DeviceDirectory(const DevicePropertiesByInstancePath& devices) : devices_(devices)
    {
        for (const auto& device : devices) {
            for (std::string_view path : ListEntries(device.second.LocationPaths)) {
                std::string key = AsciiLower(path);
                if (key.starts_with("acpi(")) {
                    byAcpiPath_.emplace(std::move(key), &device);
                }
            }
        }
    }

    const DevicePropertiesByInstancePath::value_type* Find(const std::string& instancePath,
                                                           std::string_view acpiName) const
    {
        if (!instancePath.empty()) {
            if (auto device = devices_.find(instancePath); device != devices_.end()) {
                return &*device;
            }
        }
        const std::string path = AsciiLower(AcpiLocationPath(acpiName));
        auto device = path.empty() ? byAcpiPath_.end() : byAcpiPath_.find(path);
        return device != byAcpiPath_.end() ? device->second : nullptr;
    }

private:
    const DevicePropertiesByInstancePath& devices_;
    // The first device to name a path keeps it.
    std::unordered_map<std::string, const DevicePropertiesByInstancePath::value_type*> byAcpiPath_;
};

Json TextOrNull(std::string_view text)
{
    return text.empty() ? Json() : Json(text);
}

// Who the device is, as the device manager names it.
Json DeviceInfo(const DevicePropertiesByInstancePath::value_type& device)
{
    const DeviceProperties& properties = device.second;
    const std::vector<std::string_view> hardwareIds = ListEntries(properties.HardwareIds);
    const std::vector<std::string_view> locations = ListEntries(properties.LocationPaths);
    return {
        {"name", TextOrNull(properties.FriendlyName.empty() ? properties.DeviceDesc
                                                            : properties.FriendlyName)},
        {"instancePath", device.first},
        {"hardwareId", TextOrNull(hardwareIds.empty() ? "" : hardwareIds.front())},
        {"driverProvider", TextOrNull(properties.DriverProvider)},
        {"driverVersion", TextOrNull(properties.DriverVersion)},
        {"infName", TextOrNull(properties.DriverInfPath)},
        {"locationPath", TextOrNull(locations.empty() ? "" : locations.front())},
    };
}

// The PnP device of a finding: the OS device, the PoFx registration's
// instance path, else the PEP's or PoFx's ACPI name.
const DevicePropertiesByInstancePath::value_type* FindingDevice(const DeviceDirectory& directory,
                                                                const DeviceMatch* match,
                                                                const PoDeviceEntry* poDevice)
{
    if (poDevice != nullptr) {
        return directory.Find(poDevice->InstancePath, {});
    }
    if (match == nullptr) {
        return nullptr;
    }
    const std::string& instancePath =
        match->PoFxDevice != nullptr ? match->PoFxDevice->InstancePath : std::string();
    const std::string& acpiName = match->PepDevice != nullptr    ? match->PepDevice->DeviceName
                                  : match->PoFxDevice != nullptr ? match->PoFxDevice->DeviceId
                                                                 : std::string();
    return directory.Find(instancePath, acpiName);
}

Json DeviceName(const DeviceMatch* match, const PoDeviceEntry* poDevice)
{
    if (match != nullptr && match->PepDevice != nullptr) {
        return match->PepDevice->DeviceName;
    }
    if (match != nullptr && match->PoFxDevice != nullptr) {
        return match->PoFxDevice->DeviceId;
    }
    if (poDevice != nullptr) {
        return poDevice->InstancePath;
    }
    return nullptr;
}

// One finding: a device of a ReportError (the match or the OS device), or the
// error itself when it has none.
Json Finding(const ReportError& error, const DeviceMatch* match, const PoDeviceEntry* poDevice,
             const DeviceDirectory& directory)
{
    const bool known = error.Type >= 0 && static_cast<size_t>(error.Type) < ErrorTypeNames.size();
    const Rule* rule = error.Rule;
    Json finding = {
        {"kind", error.Type},
        {"kindName", known ? ErrorTypeNames[static_cast<size_t>(error.Type)] : "unknown"},
        {"device", DeviceName(match, poDevice)},
        {"class", rule != nullptr ? Json(rule->Class) : Json()},
        {"rule", rule != nullptr ? Json{{"regex", rule->Regex},
                                        {"serviceName", rule->ServiceName},
                                        {"type", rule->RuleType}}
                                 : Json()},
        {"expected", rule != nullptr ? ExpectedStates(*rule) : Json()},
        {"actual", match != nullptr && match->PepDevice != nullptr ? ActualStates(*match) : Json()},
    };
    const auto* device = FindingDevice(directory, match, poDevice);
    if (poDevice != nullptr && device != nullptr) {
        finding["problemCode"] = device->second.ProblemCode;
    }
    finding["actionBy"] = ActionByOf(error.Type);
    if (device != nullptr) {
        finding["deviceInfo"] = DeviceInfo(*device);
    }
    return finding;
}

// As the report lists them: the errors in order, each device in order, and an
// error without a device once.
Json Findings(const ErrorRegistry& errors, const DevicePropertiesByInstancePath& devices)
{
    const DeviceDirectory directory(devices);
    Json findings = Json::array();
    for (const ReportError& error : errors.ErrorList) {
        for (const DeviceMatch* match : error.Devices) {
            findings.push_back(Finding(error, match, nullptr, directory));
        }
        if (error.Devices.empty()) {
            for (const PoDeviceEntry* poDevice : error.PoDevices) {
                findings.push_back(Finding(error, nullptr, poDevice, directory));
            }
        }
        if (error.Devices.empty() && error.PoDevices.empty()) {
            findings.push_back(Finding(error, nullptr, nullptr, directory));
        }
    }
    return findings;
}

// Two-space indentation for the document and its members; everything below
// (a finding, an LPIT state, the CPU fields) is written compact on one line,
// so that a finding is one line to read or grep. Text that is not UTF-8 does
// not stop the writer: each invalid sequence becomes U+FFFD.
void Print(const Json& value, size_t depth, std::string& out)
{
    if (depth >= 2 || value.is_primitive() || value.empty()) {
        out += value.dump(-1, ' ', false, Json::error_handler_t::replace);
        return;
    }
    const bool object = value.is_object();
    out += object ? '{' : '[';
    for (auto element = value.begin(); element != value.end(); ++element) {
        out += element == value.begin() ? "\n" : ",\n";
        out.append(2 * (depth + 1), ' ');
        if (object) {
            out += Json(element.key()).dump();
            out += ": ";
        }
        Print(element.value(), depth + 1, out);
    }
    out += '\n';
    out.append(2 * depth, ' ');
    out += object ? '}' : ']';
}

}  // namespace

std::string FindingsLine(const ErrorRegistry& errors)
{
    size_t total = 0;
    size_t bios = 0;
    size_t drivers = 0;
    for (const ReportError& error : errors.ErrorList) {
        // One finding per device, as the results list them.
        const size_t count = !error.Devices.empty()     ? error.Devices.size()
                             : !error.PoDevices.empty() ? error.PoDevices.size()
                                                        : 1;
        total += count;
        const std::string_view actionBy = ActionByOf(error.Type);
        (actionBy == "BIOS" ? bios : drivers) += actionBy.empty() ? 0 : count;
    }
    if (total == 0) {
        return "dormex: no findings\n";
    }
    std::string line =
        "dormex: " + std::to_string(total) + (total == 1 ? " finding: " : " findings: ");
    if (bios != 0) {
        line += std::to_string(bios) + " for the BIOS";
    }
    if (drivers != 0) {
        line += bios != 0 ? ", " : "";
        line += std::to_string(drivers) + " for driver vendors";
    }
    return line + "\n";
}

std::string WriteResults(const ResultsContents& contents, std::string_view startTime)
{
    const RundownLists& rundowns = contents.Rundowns;
    Json document = {
        {"format", ResultsFormat},
        {"version", DormexVersion},
        {"time", startTime},
        {"capture", contents.Capture},
        {"machine", Machine(contents.System)},
        {"ruleFile", RuleFile(contents.Outcome)},
        {"outcome", Outcome(contents.Outcome)},
        {"lpit", Lpit(contents.Lpit, contents.LpitStatusText, contents.Outcome)},
        {"devices",
         {{"pofx", rundowns.PoFxRundownList.size()},
          {"pep", rundowns.PepDeviceRundownList.size()},
          {"os", rundowns.PoDeviceList.size()}}},
        {"issues", contents.Errors.CriticalCount},
        {"findings", Findings(contents.Errors, contents.Devices)},
    };
    std::string text;
    Print(document, 0, text);
    return text + "\n";
}

std::string UtcTimeText(std::chrono::system_clock::time_point time)
{
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(time);
    const auto day = floor<days>(seconds);
    const year_month_day date(day);
    const hh_mm_ss clock(seconds - day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

}  // namespace dormex
