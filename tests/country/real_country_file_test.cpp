#include "country_test_dir.h"

#include <gtest/gtest.h>

namespace {

struct RealCase
{
    const char* name;
    const char* text; // as the relay passes a spotter: with ":" unless the row says otherwise
    int bit;
    friend void PrintTo(const RealCase& row, std::ostream* out) { *out << row.name; }
};

class RealCountryFileTest : public testing::TestWithParam<RealCase>
{
};

// Each expected bit is read off Debian's hamradio-files cty.dat: the longest alias that is a prefix of
// the chosen part decides. Entries written "=CALL" keep their "=" here, so they never match.
TEST_P(RealCountryFileTest, SpotterContinent)
{
    const country_test::CountryDir dir(country_test::ReadWholeFile(testing_support::kRealCountryFile));
    EXPECT_EQ(ContinentOfCall(GetParam().text), GetParam().bit) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    HamradioFiles, RealCountryFileTest,
    testing::Values(
        // Europe
        RealCase {"Germany", "DL1ABC:", kContinentEU}, // DL, Fed. Rep. of Germany
        RealCase {"LowerCase", "dl1abc:", kContinentEU}, // upper-cased first
        RealCase {"Scotland", "GM4ABC:", kContinentEU}, // GM (Scotland) is longer than G (England)
        RealCase {"QrpSuffix",
                  "G4ABC/QRP:", kContinentEU}, // "QRP:" begins with Q: G4ABC decides (G, England)
        RealCase {"PrefixFrance", "F/DL1ABC:", kContinentEU}, // F is the shortest part (France)
        RealCase {"PortableNoColon", "DL1ABC/P", kContinentEU}, // P is a designator: DL1ABC decides
        // "P:" is the shortest part and no designator; the file has no alias that "P:" begins with.
        RealCase {"PortableWithColon", "DL1ABC/P:", 0},
        // "MM:" is no designator and the shortest part: MM is listed under Scotland.
        RealCase {"MaritimeWithColon", "W1ABC/MM:", kContinentEU},
        RealCase {"EqualPartsUnequalColon", "OH2/VK2:", kContinentEU}, // parts of 3 and 4: OH2 (OH, Finland)
        // North America
        RealCase {"Usa", "K1ABC:", kContinentNA}, // K, United States
        RealCase {"MaritimeNoColon", "W1ABC/MM", kContinentNA}, // MM is a designator: W decides
        RealCase {"ZoneOverridesIgnored", "VE3ABC:", kContinentNA}, // VE3(4)[4], Canada: zones change nothing
        RealCase {"CallSlashPrefix", "G4ABC/VP9:", kContinentNA}, // "VP9:" is shorter than G4ABC: Bermuda
        RealCase {"PrefixSlashCall", "VP9/G4ABC:", kContinentNA}, // VP9, Bermuda
        // "=AA2TT" is listed under Hawaii, but with its "=" it never matches: AA, United States.
        RealCase {"WholeCallEntryIgnored", "AA2TT:", kContinentNA},
        // South America
        RealCase {"Argentina", "LU1ABC:", kContinentSA}, // LU
        RealCase {"Brazil", "PY2ABC:", kContinentSA}, // PY
        RealCase {"ChileQrp", "CE3ABC/QRP:", kContinentSA}, // CE; the Q part is never chosen
        // Africa
        RealCase {"SouthAfrica", "ZS6ABC:", kContinentAF}, // ZS
        RealCase {"Kenya", "5Z4ABC", kContinentAF}, // 5Z, without ":"
        RealCase {"Mauritius", "3B8ABC:", kContinentAF}, // 3B8
        RealCase {"CanaryPrefix", "EA8/DL1ABC:", kContinentAF}, // EA8 (Canary Islands) beats EA (Spain)
        // Asia
        RealCase {"Japan", "JA1ABC:", kContinentAS}, // JA
        RealCase {"AsiaticRussia", "UA9ABC:", kContinentAS}, // UA9 beats U (European Russia)
        RealCase {"AsiaticRussiaZones", "UA0ABC:", kContinentAS}, // UA0A(18)[32], Asiatic Russia
        RealCase {"Israel", "4X1ABC:", kContinentAS}, // 4X
        RealCase {"Singapore", "9V1ABC", kContinentAS}, // 9V, without ":"
        // Oceania
        RealCase {"Australia", "VK2ABC:", kContinentOC}, // VK
        RealCase {"NewZealand", "ZL1ABC:", kContinentOC}, // ZL
        RealCase {"Hawaii", "KH6ABC:", kContinentOC}, // KH6 (Hawaii) beats K (United States)
        RealCase {"EqualPartsFirstBetter",
                  "KH6/DL:", kContinentOC}, // parts of 3: KH6 is itself an alias (99) against DL (2)
        RealCase {"EqualPartsTie", "OH2/VK2", kContinentOC}), // parts of 3, 2 against 2: the second wins
    country_test::RowName());

} // namespace
