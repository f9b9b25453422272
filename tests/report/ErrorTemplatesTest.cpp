#include <gtest/gtest.h>

#include "TestPlatform.h"
#include "analysis/ConstraintAnalysis.h"
#include "report/ErrorTemplates.h"
#include "rules/RuleSet.h"
#include "trace/RundownLists.h"

namespace dormex {
namespace {

Rule MakeRule(std::string className, int32_t count,
              std::vector<std::pair<std::string, std::string>> states)
{
    Rule rule;
    rule.Class = std::move(className);
    rule.Regex = ".*\\.HDAS";
    rule.ServiceName = "HDAudBus";
    rule.RuleType = "always";
    rule.PlatformStateCount = count;
    for (auto& [d, f] : states) {
        rule.PlatformStates.push_back({0, d, f});
    }
    return rule;
}

struct Registry {
    test::LogCapture capture;
    ErrorRegistry errors;
    DevicePropertiesByInstancePath devices;

    std::string Render(size_t entry = 0)
    {
        return RenderError(errors, errors.ErrorList.at(entry), devices, capture.Log);
    }
};

// Errors of one type and rule merge, newest first; every call counts as an
// issue, a call without a device too.
TEST(AddError, MergesByTypeAndRuleAndCountsEveryCall)
{
    Registry registry;
    Rule audio = MakeRule("audio", 1, {{"3", "0"}});
    Rule other = audio;
    PoFxDeviceRundown pofx{0, "\\_SB.PC00.HDAS", "PCI\\A", "HDAudBus"};
    DeviceMatch a{nullptr, nullptr, &pofx}, b;
    DebugLog& log = registry.capture.Log;
    registry.errors.AddError(RequiredConstraintMissing, &audio, &a, nullptr, log);
    registry.errors.AddError(RequiredConstraintMissing, &audio, &b, nullptr, log);
    registry.errors.AddError(RequiredConstraintMissing, &other, nullptr, nullptr, log);
    registry.errors.AddError(ConstraintWithoutPofx, &audio, nullptr, nullptr, log);
    registry.errors.AddError(ConstraintWithoutPofx, &audio, nullptr, nullptr, log);
    ASSERT_EQ(registry.errors.ErrorList.size(), 3u);
    EXPECT_EQ(registry.errors.ErrorList[0].Type, ConstraintWithoutPofx);
    EXPECT_TRUE(registry.errors.ErrorList[0].Devices.empty());
    EXPECT_EQ(registry.errors.ErrorList[1].Rule, &other);
    EXPECT_EQ(registry.errors.ErrorList[2].Devices.size(), 2u);
    EXPECT_EQ(registry.errors.ErrorCount, 3);
    EXPECT_EQ(ErrorSummaryText(registry.errors),
              "Found <span style=\"color:red\">5</span> issue(s)");
}

// One section per device, numbered across the report; an error without a
// device is one section.
TEST(RenderError, OneSectionPerDeviceNumberedAcrossTheReport)
{
    Registry registry;
    Rule audio = MakeRule("audio", 2, {{"3", "0"}, {"3", "1"}});
    PepDeviceRundown pepA{"0x1", "\\_SB.PC00.HDAS", 1, {3, 0, 0}};
    PepComponentRundown componentA{"0x1", "\\_SB.PC00.HDAS", 1, {0, 0, 0}};
    PoFxDeviceRundown pofxB{0, "\\_SB.PC00.HDA2", "PCI\\B", "HDAudBus"};
    DeviceMatch a{&componentA, &pepA, nullptr};
    DeviceMatch b{nullptr, nullptr, &pofxB};
    Rule gfx = MakeRule("graphics", 0, {});
    registry.errors.NextErrId = 4;
    registry.errors.AddError(PowerStateMismatch, &audio, &a, nullptr, registry.capture.Log);
    registry.errors.AddError(PowerStateMismatch, &audio, &b, nullptr, registry.capture.Log);
    registry.errors.AddError(DeviceClassConstraintMissing, &gfx, nullptr, nullptr,
                             registry.capture.Log);
    std::string html = registry.Render(0);  // newest first, as the report lists them
    html += registry.Render(1);
    size_t at = 0;
    for (const std::string part :
         {"<input id=\"err4\" type=\"checkbox\" /><label for=\"err4\">",
          "<span style=\"font-weight:bold\"> graphics </span> device constraint expected",
          "<label for=\"err5\">",
          "\\_SB.PC00.HDAS (audio)</span> power state constraint is incorrect:",
          "Expected: [[D: 3 , F: 0] [D: 3 , F: 1] ]</div>",
          "Actual&nbsp;&nbsp;: [[ D: 3 ,  F: 0 ] ]</div>", "<label for=\"err6\">",
          "\\_SB.PC00.HDA2 (audio)</span>", "Actual&nbsp;&nbsp;: </div>"}) {
        at = html.find(part, at);
        ASSERT_NE(at, std::string::npos) << part << "\nin\n" << html;
    }
    EXPECT_EQ(registry.errors.NextErrId, 7);
}

// Every kind's headline shows in the sample scenario's report; here values
// with markup in them, escaped wherever they are inserted.
TEST(RenderError, InsertedValuesAreEscaped)
{
    Registry registry;
    Rule audio = MakeRule("a<b>", 1, {{"3\"", "0&"}});
    PepDeviceRundown pep{"0x1", "<b>\"x\"", 1, {3, 0, 0}};
    DeviceMatch match{nullptr, &pep, nullptr};
    registry.errors.AddError(RequiredConstraintMissing, &audio, &match, nullptr,
                             registry.capture.Log);
    const std::string device = "&lt;b&gt;&quot;x&quot; (a&lt;b&gt;)";
    EXPECT_NE(registry.Render().find("<span style=\"font-family:monospace\">" + device +
                                     "</span> constraint required</div><div class=\"err_desc\"><p>"
                                     "Constraints for <span style=\"font-family:monospace\">" +
                                     device + "</span>"),
              std::string::npos)
        << registry.Render();
    EXPECT_NE(registry.Render().find("[[D: 3&quot; , F: 0&amp;] ]"), std::string::npos);
}

// A value that looks like a placeholder is shown as it is, never filled in.
TEST(RenderError, InsertedValuesAreNeverExpanded)
{
    struct Case {
        ErrorType type;
        std::string ruleClass;
        std::string device;
        std::string expected;
    };
    const Case cases[] = {
        {DeviceClassConstraintMissing, "x{{getDCS .Err}}", "",
         "<span style=\"font-weight:bold\"> x{{getDCS .Err}} </span> device constraint "
         "expected</div><div class=\"err_desc\"><p>No x{{getDCS .Err}} constraint was found."},
        {DeviceProblemCode, "", "USB\\{{getErrorCode .Err}}",
         "<span style=\"font-family:monospace\"> Device USB\\{{getErrorCode .Err}} has problem "
         "code 28</span>"},
    };
    for (const Case& c : cases) {
        Registry registry;
        Rule rule = MakeRule(c.ruleClass, 1, {{"3", "0"}});
        PepDeviceRundown pep{"0x1", c.device, 1, {3, 0, 0}};
        DeviceMatch match{nullptr, &pep, nullptr};
        PoDeviceEntry poDevice{"0x1", c.device, "x"};
        registry.devices[c.device].ProblemCode = 28;
        if (c.type == DeviceProblemCode) {
            registry.errors.AddError(c.type, nullptr, nullptr, &poDevice, registry.capture.Log);
        } else {
            registry.errors.AddError(c.type, &rule, c.device.empty() ? nullptr : &match, nullptr,
                                     registry.capture.Log);
        }
        const std::string html = registry.Render();
        EXPECT_NE(html.find(c.expected), std::string::npos) << c.type << "\n" << html;
    }
}

}  // namespace
}  // namespace dormex
