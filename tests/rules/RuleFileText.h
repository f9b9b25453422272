#pragma once

#include <string>

namespace dormex::test {

// One OS entry with one complete rule, one line per element so that a test
// can take any of them out.
inline const std::string OneRuleFile = R"(<?xml version="1.0"?>
<platform name="Test Platform">
  <os version="11" build="22621">
    <rule RuleOnParent="1">
      <class>audio</class>
      <regex>.*HDAS</regex>
      <servicename>HDAudBus</servicename>
      <ruletype>always</ruletype>
      <platformstatecount>2</platformstatecount>
      <platformstate>
        <platformstateindex>0</platformstateindex>
        <Dstate>3</Dstate>
        <Fstate>0</Fstate>
      </platformstate>
      <platformstate>
        <platformstateindex>1</platformstateindex>
        <Dstate>3</Dstate>
        <Fstate>1</Fstate>
      </platformstate>
    </rule>
  </os>
</platform>
)";

}  // namespace dormex::test
