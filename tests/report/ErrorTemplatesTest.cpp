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

TEST(AddError, MergesByTypeAndRuleAndCountsEveryCall)
{
    Registry registry;
    Rule audio = MakeRule("audio", 1, {{"3", "0"}});
    Rule other = audio;
    PoFxDeviceRundown pofx{0, "\\_SB.PC00.HDAS", "PCI\\A", "HDAudBus"};
    DeviceMatch a{nullptr, nullptr, &pofx}, b, c;
    registry.errors.AddError(RequiredConstraintMissing, &audio, &a, nullptr, registry.capture.Log);
    registry.errors.AddError(RequiredConstraintMissing, &audio, &b, nullptr, registry.capture.Log);
    registry.errors.AddError(RequiredConstraintMissing, &audio, &c, nullptr, registry.capture.Log);
    EXPECT_EQ(registry.errors.ErrorList.size(), 1u);
    EXPECT_EQ(registry.errors.ErrorList[0].Devices.size(), 3u);
    EXPECT_EQ(registry.errors.ErrorCount, 1);
    EXPECT_EQ(registry.errors.CriticalCount, 3);
    EXPECT_EQ(ErrorSummaryText(registry.errors),
              "Found <span style=\"color:red\">3</span> issue(s)");

    registry.errors.AddError(RequiredConstraintMissing, &other, nullptr, nullptr,
                             registry.capture.Log);
    registry.errors.AddError(ConstraintWithoutPofx, &audio, nullptr, nullptr, registry.capture.Log);
    ASSERT_EQ(registry.errors.ErrorList.size(), 3u);
    EXPECT_EQ(registry.errors.ErrorList[0].Type, ConstraintWithoutPofx);
    EXPECT_EQ(registry.errors.ErrorList[1].Rule, &other);
    EXPECT_EQ(registry.errors.ErrorCount, 3);
    EXPECT_EQ(registry.errors.CriticalCount, 5);

}

TEST(AddError, RepeatedCallsWithoutADeviceOnlyCount)
{
    Registry registry;
    Rule gfx = MakeRule("graphics", 0, {});
    registry.errors.AddError(DeviceClassConstraintMissing, &gfx, nullptr, nullptr,
                             registry.capture.Log);
    registry.errors.AddError(DeviceClassConstraintMissing, &gfx, nullptr, nullptr,
                             registry.capture.Log);
    EXPECT_EQ(registry.errors.ErrorCount, 1);
    EXPECT_EQ(registry.errors.CriticalCount, 2);
    EXPECT_TRUE(registry.errors.ErrorList[0].Devices.empty());
    EXPECT_EQ(registry.Render(),
              "<section><div class=\"err\"><input id=\"err0\" type=\"checkbox\" /><label "
              "for=\"err0\">details</label><div class=\"critical\"><span "
              "style=\"font-weight:bold\"> graphics </span> device constraint expected</div><div "
              "class=\"err_desc\"><p>No graphics constraint was found. Work with system BIOS "
              "contacts to address this.</div></div></section>");
    EXPECT_EQ(registry.errors.NextErrId, 1);
}

TEST(RenderError, OneSectionPerDeviceNumberedAcrossTheReport)
{
    Registry registry;
    Rule audio = MakeRule("audio", 2, {{"3", "0"}, {"3", "1"}});
    PepDeviceRundown pepA{"0x1", "\\_SB.PC00.HDAS", 1, {3, 0, 0}};
    PepComponentRundown componentA{"0x1", "\\_SB.PC00.HDAS", 1, {0, 0, 0}};
    PoFxDeviceRundown pofxB{0, "\\_SB.PC00.HDA2", "PCI\\B", "HDAudBus"};
    DeviceMatch a{&componentA, &pepA, nullptr};
    DeviceMatch b{nullptr, nullptr, &pofxB};
    registry.errors.NextErrId = 4;
    registry.errors.AddError(PowerStateMismatch, &audio, &a, nullptr, registry.capture.Log);
    registry.errors.AddError(PowerStateMismatch, &audio, &b, nullptr, registry.capture.Log);
    auto section = [](std::string id, std::string device, std::string actual) {
        return "<section><div class=\"err\"><input id=\"err" + id +
               "\" type=\"checkbox\" /><label for=\"err" + id +
               "\">details</label><div class=\"critical\"><span style=\"font-family:monospace\">" +
               device +
               "</span> power state constraint is incorrect:<div "
               "style=\"padding-left:1em;font-family:monospace;\">Expected: [[D: 3 , F: 0] [D: 3 , "
               "F: 1] ]</div> <div style=\"padding-left:1em;font-family:monospace;\">"
               "Actual&nbsp;&nbsp;: " +
               actual +
               "</div></div><div class=\"err_desc\"><p>D-state and/or F-state constraints "
               "specified for a device did not match expected values. Work directly with your BIOS "
               "vendor to correct this.</p></div></div></section>";
    };
    EXPECT_EQ(registry.Render(), section("4", "\\_SB.PC00.HDAS (audio)", "[[ D: 3 ,  F: 0 ] ]") +
                                     section("5", "\\_SB.PC00.HDA2 (audio)", ""));
    EXPECT_EQ(registry.errors.NextErrId, 6);
}

TEST(RenderError, ValueFunctions)
{
    Rule noClass = MakeRule("", 0, {});
    PoFxDeviceRundown named{0, "\\_SB.PC00.XHCI", "PCI\\X", "USBXHCI"};
    PoFxDeviceRundown unnamed{0, "\\_SB.PC00.XHC2", "PCI\\Y", ""};
    PepDeviceRundown pep{"0x1", "\\_SB.PC00.I2C0", 1, {3, 0, 0}};
    PepDeviceRundown none{"0x1", "\\_SB.PC00.I2C1", 0, {3, 0, 0}};
    DeviceMatch withService{nullptr, nullptr, &named};
    DeviceMatch withoutService{nullptr, nullptr, &unnamed};
    DeviceMatch noComponent{nullptr, &pep, nullptr};
    DeviceMatch noDependency{nullptr, &none, nullptr};
    ReportError error;
    error.Rule = &noClass;
    error.Devices = {&withService, &withoutService, &noComponent, &noDependency};
    EXPECT_EQ(GetFirstFailedDev(error, 0), "\\_SB.PC00.XHCI (USBXHCI)");
    EXPECT_EQ(GetFirstFailedDev(error, 1), "\\_SB.PC00.XHC2");
    EXPECT_EQ(GetFirstFailedDev(error, 2), "\\_SB.PC00.I2C0");
    EXPECT_EQ(GetExpectedDfConsSlice(error), "[]");
    EXPECT_EQ(GetActualDfConsSlice(error, 2), "[[ D: 3 ] ]");
    EXPECT_EQ(GetActualDfConsSlice(error, 3), "[]");

    Rule counted = MakeRule("audio", 3, {{"3", "0"}, {"3", "1"}});
    ReportError truncated;
    truncated.Rule = &counted;
    EXPECT_EQ(GetExpectedDfConsSlice(truncated), "[[D: 3 , F: 0] [D: 3 , F: 1] ]");
}

TEST(RenderError, YellowBangsShowPathAndProblemCodeOrAnEmptyNumber)
{
    Registry registry;
    PoDeviceEntry finger{"0x1", "USB\\VID_2F4A&PID_0C11\\1", "WUDFRd"};
    PoDeviceEntry gone{"0x2", "USB\\VID_9999&PID_0001\\2", "x"};
    registry.devices["USB\\VID_2F4A&PID_0C11\\1"].ProblemCode = 28;
    registry.errors.AddError(DeviceProblemCode, nullptr, nullptr, &finger, registry.capture.Log);
    registry.errors.AddError(DeviceProblemCode, nullptr, nullptr, &gone, registry.capture.Log);
    std::string html = registry.Render();
    const std::string opening =
        "<div class=\"critical\"><span style=\"font-family:monospace\"> Device ";
    EXPECT_NE(html.find(opening + "USB\\VID_2F4A&amp;PID_0C11\\1 has problem code 28</span>"),
              std::string::npos);
    EXPECT_NE(html.find(opening + "USB\\VID_9999&amp;PID_0001\\2 has problem code </span>"),
              std::string::npos);
    std::string log = registry.capture.Text();
    EXPECT_NE(log.find("\nINFORMATION:: Finding Error Code\nINFORMATION:: Finding Error Code"
                       "\nINFORMATION:: Cannot Find error code for 1"),
              std::string::npos);
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
        {UnexpectedConstraint, "x{{getDCS .Err}}", "\\_SB.PC00.HDAS",
         "<span style=\"font-family:monospace\">\\_SB.PC00.HDAS (x{{getDCS .Err}})</span> "
         "constraint not expected"},
        {RequiredConstraintMissing, "audio", "{{.ErrId}}{{getExpectedDfConsSlice .Err}}",
         "<span style=\"font-family:monospace\">{{.ErrId}}{{getExpectedDfConsSlice .Err}} "
         "(audio)</span> constraint required"},
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
