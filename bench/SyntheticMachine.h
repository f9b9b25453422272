#pragma once

#include <string>

namespace dormex::bench {

// A made-up machine of `devices` OS power devices (each registered, most of
// them constrained, a few with problem codes) and the rule file for it with
// `rules` rules, for measuring how the run grows with the machine.
struct SyntheticMachine {
    std::string SnapshotJson;  // family 6 model 77, build 22631
    std::string RulesXml;      // Family_6_Model_77_Microsoft_Windows_10.xml
};

SyntheticMachine GenerateSyntheticMachine(int devices, int rules);

}  // namespace dormex::bench
