#include "report/RuleMatchList.h"

#include "analysis/ConstraintAnalysis.h"
#include "report/Html.h"
#include "report/HtmlFragments.h"
#include "rules/RuleSet.h"
#include "trace/RundownLists.h"

namespace dormex {

namespace {

std::string RuleLine(const Rule* rule)
{
    if (rule == nullptr) {
        return "&lt;nil&gt;";
    }
    std::string line = HtmlEscape(rule->Class) + ", " + HtmlEscape(rule->Regex) + ", " +
                       HtmlEscape(rule->ServiceName) + ", " + HtmlEscape(rule->RuleType) + ", [ ";
    for (const PlatformStateConstraint& state : rule->PlatformStates) {
        line += '[';
        line += HtmlEscape(state.DState);
        line += ", ";
        line += HtmlEscape(state.FState);
        line += "] ";
    }
    return line + "]";
}

}  // namespace

std::string DeviceMatchText(const DeviceMatch& match)
{
    std::string text;
    if (match.PoFxDevice != nullptr) {
        text = HtmlEscape(match.PoFxDevice->DeviceId) + ", " +
               HtmlEscape(match.PoFxDevice->ServiceName);
    } else {
        // Without a PEP device record the component's description names the device.
        const std::string& name = match.PepDevice != nullptr ? match.PepDevice->DeviceName
                                  : match.PepComponent != nullptr
                                      ? match.PepComponent->ComponentDescription
                                      : std::string();
        text = HtmlEscape(name) + ", &lt;no-PoFx-DeviceRundown&gt;, ";
    }
    if (match.PepDevice == nullptr) {
        return text + ", &lt;no-Pep-DeviceRundown&gt;, ";
    }
    const PepDeviceRundown& device = *match.PepDevice;
    text += "[";
    for (uint32_t j = 0; j < device.PlatformStateDependencyCount && j < device.PowerStates.size();
         ++j) {
        text += "[D:" + std::to_string(device.PowerStates[j]);
        if (match.PepComponent != nullptr) {
            text += ", F:" + std::to_string(match.PepComponent->PowerStates[j]);
        }
        text += "]";
    }
    return text + "]";
}

std::string BuildRuleMatchList(const ConstraintAnalysis& analysis)
{
    std::string html;
    for (const Cdr& cdr : analysis.CdrList) {
        html += html::ListStart;
        html += html::RuleItem;
        html += RuleLine(cdr.Rule);
        html += html::ItemEnd;
        html += html::ListStart;
        if (cdr.DeviceMatches.empty()) {
            html += std::string(html::DeviceItem) + "&lt;no-cdr-match&gt;" + std::string(html::ItemEnd);
        }
        for (const DeviceMatch* match : cdr.DeviceMatches) {
            html += html::DeviceItem;
            html += DeviceMatchText(*match);
            html += html::ItemEnd;
        }
        if (cdr.PoDeviceMatches.empty()) {
            html += std::string(html::OsDeviceItem) + "&lt;no-po-match&gt;" + std::string(html::ItemEnd);
        }
        for (const PoDeviceEntry* device : cdr.PoDeviceMatches) {
            html += html::OsDeviceItem;
            html += HtmlEscape(device->FriendlyName) + " : " + HtmlEscape(device->InstancePath);
            html += html::ItemEnd;
        }
        html += html::ListEnd;
        html += html::ListEnd;
    }
    return html;
}

}  // namespace dormex
