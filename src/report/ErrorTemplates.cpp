#include "report/ErrorTemplates.h"

#include <algorithm>
#include <array>
#include <functional>
#include <optional>

#include "analysis/ConstraintAnalysis.h"
#include "log/DebugLog.h"
#include "report/Html.h"
#include "rules/RuleSet.h"
#include "trace/RundownLists.h"

namespace dormex {

namespace {

const std::string Opening =
    "<section><div class=\"err\"><input id=\"err{{.ErrId}}\" type=\"checkbox\" /><label "
    "for=\"err{{.ErrId}}\">details</label><div class=\"{{GetCriticalLevel .Err}}\">";
const std::string OpeningOfType0 =
    "<section><div class=\"err\"><input id = \"err{{.ErrId}}\" type = \"checkbox\" / ><label "
    "for = \"err{{.ErrId}}\">details</label><div class=\"{{GetCriticalLevel .Err}}\">";
const std::string Middle = "</div><div class=\"err_desc\">";
const std::string Closing = "</div></div></section>";

std::string Monospace(const std::string& text)
{
    return "<span style=\"font-family:monospace\">" + text + "</span>";
}

std::string Indented(const std::string& text)
{
    return "<div style=\"padding-left:1em;font-family:monospace;\">" + text + "</div>";
}

std::string Section(const std::string& opening, const std::string& headline,
                    const std::string& description)
{
    return opening + headline + Middle + description + Closing;
}

const std::string FailedDev = "{{getFirstFailedDev .Err}}";

const std::array<std::string, 8> Templates = {
    Section(OpeningOfType0,
            "<span style = \"font-family:monospace\">" + FailedDev +
                "</span> constraint found but driver did not register with PoFx",
            "<p>The driver did not register with the Microsoft PoFx API for Modern Standby.  Work "
            "directly with the driver vendor to resolve.</p>"),
    Section(Opening,
            "<span style=\"font-weight:bold\"> {{getDCS .Err}} </span> device constraint expected",
            "<p>No {{getDCS .Err}} constraint was found. Work with system BIOS contacts to "
            "address this."),
    Section(Opening,
            Monospace(FailedDev) + " power state constraint is incorrect:" +
                Indented("Expected: {{getExpectedDfConsSlice .Err}}") + " " +
                Indented("Actual&nbsp;&nbsp;: {{getActualDfConsSlice .Err}}"),
            "<p>D-state and/or F-state constraints specified for a device did not match expected "
            "values. Work directly with your BIOS vendor to correct this.</p>"),
    Section(Opening, Monospace(FailedDev) + " constraint required",
            "<p>Constraints for " + Monospace(FailedDev) +
                " are expected on this platform, but not described by the BIOS.</p><p>Work with "
                "System BIOS contacts to add " +
                Monospace(FailedDev) + " " + Monospace("{{getExpectedDfConsSlice .Err}}") + "</p>"),
    Section(Opening, Monospace(FailedDev) + " constraint not expected ",
            "<p>" + Monospace(FailedDev) +
                " is not expected to be described in the device constraints. Doing so is known to "
                "cause degraded Standby battery life and/or adversely impact functionality. Fixing "
                "this involves removing " +
                Monospace(FailedDev) + " constraints from the PEP device ASL scope."),
    Section(Opening,
            Monospace(FailedDev) +
                " Corva Swiftvault (SVT) Velomem support is detected but no constraint is found",
            "<p>The Corva Swiftvault (SVT) Velomem is detected on the system but no Velomem "
            "constraint is found.  Work with your Corva SVT driver representative to confirm the "
            "correct constraint needed."),
    Section(
        Opening,
        Monospace(" Device {{getDeviceDescription .Err}} has problem code {{getErrorCode .Err}}"),
        "<p>Fix any yellow bangs listed in Windows Device Manager and make sure latest driver "
        "are installed.  Work directly with the driver vendor of this device to address this."),
    // A PCI device constrained under a rule that wants none: told like type 4.
    Section(Opening, Monospace(FailedDev) + " constraint not expected on a PCI device",
            "<p>" + Monospace(FailedDev) +
                " is a PCI device that is not expected to be described in the device constraints. "
                "Fixing this involves removing " +
                Monospace(FailedDev) + " constraints from the PEP device ASL scope."),
};

const DeviceMatch* MatchAt(const ReportError& error, int32_t index)
{
    if (index < 0 || static_cast<size_t>(index) >= error.Devices.size()) {
        return nullptr;
    }
    return error.Devices[static_cast<size_t>(index)];
}

std::string DeviceClassSuffix(const ReportError& error, int32_t index)
{
    if (error.Rule == nullptr) {
        return {};
    }
    if (!error.Rule->Class.empty()) {
        return error.Rule->Class;
    }
    const DeviceMatch* match = MatchAt(error, index);
    if (match != nullptr && match->PoFxDevice != nullptr) {
        return match->PoFxDevice->ServiceName;
    }
    return {};
}

}  // namespace

const std::string& HtmlTemplate(ErrorType type)
{
    static const std::string none;
    if (type < 0 || static_cast<size_t>(type) >= Templates.size()) {
        return none;
    }
    return Templates[static_cast<size_t>(type)];
}

std::string GetFirstFailedDev(const ReportError& error, int32_t index)
{
    if (error.Devices.empty()) {
        if (index >= 0 && static_cast<size_t>(index) < error.PoDevices.size()) {
            return error.PoDevices[static_cast<size_t>(index)]->InstancePath;
        }
        return {};
    }
    const DeviceMatch* match = MatchAt(error, index);
    std::string name;
    if (match != nullptr && match->PepDevice != nullptr) {
        name = match->PepDevice->DeviceName;
    } else if (match != nullptr && match->PoFxDevice != nullptr) {
        name = match->PoFxDevice->DeviceId;
    }
    std::string suffix = DeviceClassSuffix(error, index);
    if (!suffix.empty()) {
        name += " (" + suffix + ")";
    }
    return name;
}

std::string GetDcs(const ReportError& error)
{
    return error.Rule != nullptr ? error.Rule->Class : std::string();
}

std::string GetExpectedDfConsSlice(const ReportError& error)
{
    if (error.Rule == nullptr) {
        return {};
    }
    std::string text = "[";
    const auto& states = error.Rule->PlatformStates;
    for (int32_t i = 0;
         i < error.Rule->PlatformStateCount && static_cast<size_t>(i) < states.size(); ++i) {
        const PlatformStateConstraint& state = states[static_cast<size_t>(i)];
        text += "[D: " + state.DState + " , F: " + state.FState + "] ";
    }
    return text + "]";
}

std::string GetActualDfConsSlice(const ReportError& error, int32_t index)
{
    const DeviceMatch* match = MatchAt(error, index);
    if (match == nullptr || match->PepDevice == nullptr) {
        return {};
    }
    const PepDeviceRundown& device = *match->PepDevice;
    std::string text = "[";
    for (uint32_t j = 0; j < device.PlatformStateDependencyCount && j < device.PowerStates.size();
         ++j) {
        text += "[ D: " + std::to_string(device.PowerStates[j]);
        // Without a component there is no F value to show.
        if (match->PepComponent != nullptr) {
            text += " ,  F: " + std::to_string(match->PepComponent->PowerStates[j]);
        }
        text += " ] ";
    }
    return text + "]";
}

std::string RenderError(ErrorRegistry& registry, const ReportError& error,
                        const DevicePropertiesByInstancePath& devices, DebugLog& log)
{
    const std::string& htmlTemplate = HtmlTemplate(error.Type);
    size_t sections =
        std::max<size_t>(1, error.Devices.empty() ? error.PoDevices.size() : error.Devices.size());
    std::string html;
    for (size_t i = 0; i < sections; ++i) {
        html += ExpandTemplate(htmlTemplate, error, static_cast<int32_t>(i), registry.NextErrId,
                               devices, log);
        ++registry.NextErrId;
    }
    return html;
}

std::string ExpandTemplate(const std::string& htmlTemplate, const ReportError& error,
                           int32_t deviceIndex, int32_t errId,
                           const DevicePropertiesByInstancePath& devices, DebugLog& log)
{
    // Each value is computed anew for every occurrence; nothing means "stop
    // replacing this placeholder" (a problem code that cannot be found).
    using Value = std::function<std::optional<std::string>()>;
    auto text = [](std::string value) { return [value] { return std::optional(value); }; };
    const std::pair<std::string, Value> placeholders[] = {
        {"{{.ErrId}}", text(std::to_string(errId))},
        {"{{GetCriticalLevel .Err}}", text("critical")},
        {"{{getFirstFailedDev .Err}}",
         [&] { return std::optional(HtmlEscape(GetFirstFailedDev(error, deviceIndex))); }},
        {"{{getExpectedDfConsSlice .Err}}",
         [&] { return std::optional(HtmlEscape(GetExpectedDfConsSlice(error))); }},
        {"{{getActualDfConsSlice .Err}}",
         [&] { return std::optional(HtmlEscape(GetActualDfConsSlice(error, deviceIndex))); }},
        {"{{getDCS .Err}}", [&] { return std::optional(HtmlEscape(GetDcs(error))); }},
        {"{{getDeviceDescription .Err}}",
         [&] { return std::optional(HtmlEscape(GetFirstFailedDev(error, deviceIndex))); }},
        {"{{getErrorCode .Err}}",
         [&]() -> std::optional<std::string> {
             log.WriteLog(LogLevel::Information, "Finding Error Code", 0);
             auto device = devices.find(GetFirstFailedDev(error, deviceIndex));
             if (device == devices.end()) {
                 log.WriteLog(LogLevel::Information,
                              "Cannot Find error code for " + std::to_string(deviceIndex), 0);
                 return std::nullopt;
             }
             return std::to_string(device->second.ProblemCode);
         }},
    };

    // One pass over the template, left to right: text that a value inserts is
    // never searched for placeholders, so a device or class named like one
    // shows as it is.
    std::array<bool, std::size(placeholders)> stopped{};
    std::string html;
    size_t copied = 0;
    size_t at = htmlTemplate.find("{{");
    while (at != std::string::npos) {
        auto known =
            std::find_if(std::begin(placeholders), std::end(placeholders), [&](const auto& entry) {
                return htmlTemplate.compare(at, entry.first.size(), entry.first) == 0;
            });
        size_t index = static_cast<size_t>(known - std::begin(placeholders));
        if (known == std::end(placeholders) || stopped[index]) {
            at = htmlTemplate.find("{{", at + 1);
            continue;
        }
        html.append(htmlTemplate, copied, at - copied);
        std::optional<std::string> replacement = known->second();
        stopped[index] = !replacement;
        html += replacement.value_or("");
        copied = at + known->first.size();
        at = htmlTemplate.find("{{", copied);
    }
    html.append(htmlTemplate, copied);
    return html;
}

std::string ErrorSummaryText(const ErrorRegistry& registry)
{
    if (registry.ErrorCount == 0) {
        return "No Errors Found";
    }
    return "Found <span style=\"color:red\">" + std::to_string(registry.CriticalCount) +
           "</span> issue(s)";
}

}  // namespace dormex
