#include "report/RuleMatchList.h"

#include <ostream>

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
void WriteItem(std::ostream& out, std::string_view itemStart, std::string_view text)
{
    out << itemStart << text << "</li>";
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

void WriteRuleMatchList(std::ostream& out, const ConstraintAnalysis& analysis)
{
    for (const Cdr& cdr : analysis.CdrList) {
        out << "<ul><li class=\"rule\">" << RuleLine(cdr.Rule) << "</li><ul>";
        if (cdr.DeviceMatches.empty()) {
            WriteItem(out, html::DeviceItem, "&lt;no-cdr-match&gt;");
        }
        for (const DeviceMatch* match : cdr.DeviceMatches) {
            WriteItem(out, html::DeviceItem, DeviceMatchText(*match));
        }
        if (cdr.PoDeviceMatches.empty()) {
            WriteItem(out, html::OsDeviceItem, "&lt;no-po-match&gt;");
        }
        for (const PoDeviceEntry* device : cdr.PoDeviceMatches) {
            WriteItem(out, html::OsDeviceItem,
                      HtmlEscape(device->FriendlyName) + " : " + HtmlEscape(device->InstancePath));
        }
        out << "</ul></ul>";
    }
}

}  // namespace dormex
