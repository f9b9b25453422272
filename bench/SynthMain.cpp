// dormex-synth <devices> <rules> <folder>: writes a synthetic machine
// (<folder>/machine.json) and its rule file (<folder>/rules_for_soc/), to
// time or profile whole runs on machines of any size.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "SyntheticMachine.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::cerr << "usage: dormex-synth <devices> <rules> <folder>\n";
        return 2;
    }
    const std::filesystem::path folder = argv[3];
    std::filesystem::create_directories(folder / "rules_for_soc");
    auto machine = dormex::bench::GenerateSyntheticMachine(std::stoi(argv[1]), std::stoi(argv[2]));
    std::ofstream(folder / "machine.json") << machine.SnapshotJson;
    std::ofstream(folder / "rules_for_soc" / "Family_6_Model_77_Microsoft_Windows_10.xml")
        << machine.RulesXml;
    return 0;
}
