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

// A list item that opens with `itemStart`; `text` is already HTML.
void AppendItem(std::string& html, std::string_view itemStart, std::string_view text)
{
    html += itemStart;
    html += text;
    html += "</li>";
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
        html += "<ul><li class=\"rule\">";
        html += RuleLine(cdr.Rule);
        html += "</li><ul>";
        if (cdr.DeviceMatches.empty()) {
            AppendItem(html, html::DeviceItem, "&lt;no-cdr-match&gt;");
        }
        for (const DeviceMatch* match : cdr.DeviceMatches) {
            AppendItem(html, html::DeviceItem, DeviceMatchText(*match));
        }
        if (cdr.PoDeviceMatches.empty()) {
            AppendItem(html, html::OsDeviceItem, "&lt;no-po-match&gt;");
        }
        for (const PoDeviceEntry* device : cdr.PoDeviceMatches) {
            AppendItem(html, html::OsDeviceItem,
                       HtmlEscape(device->FriendlyName) + " : " + HtmlEscape(device->InstancePath));
        }
        html += "</ul></ul>";
    }
    return html;
}

}  // namespace dormex
