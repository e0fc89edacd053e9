#include "country/country.h"
#include "support/temp_dir.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

// The ContinentMask bits as the filter setting stores them.
constexpr int EU = 1, NA = 2, SA = 4, AF = 8, AS = 16, OC = 32;

const auto Read = [](const auto& f) { return (std::ostringstream() << std::ifstream(f).rdbuf()).str(); };

const std::string kExample = Read(testing_support::testDataPath("country/example_cty.dat"));
const std::string kReal = Read(testing_support::kRealCountryFile);
// Only the continent field of a header line is read: columns 37 to 41.
const std::string kAfrica = "Thirdland:" + std::string(26, ' ') + "  AF:\n";

// The files of the current folder by name; "cty.dat/x" makes cty.dat a folder.
using Files = std::map<std::string, std::string>;
const auto Cty = [](const std::string& content) { return Files {{"cty.dat", content}}; };

// FindCountry's result and the continent of its record, then ContinentOfCall's bit, for one call
// against the country file of one folder.
struct Row
{
    const char* name;
    std::string call;
    int found, foundBit, callBit;
    Files files = Cty(kExample);
    bool readable = true;
};
using CountryTest = testing::TestWithParam<Row>;

TEST_P(CountryTest, LookupAndContinent)
{
    const Row& row = GetParam();
    const testing_support::TempDir dir;
    for (const auto& [name, content] : row.files) {
        dir.write(name, content);
    }
    const testing_support::ScopedCurrentDir here(dir.path());
    EXPECT_EQ(CountryFileReadable(), row.readable);
    EXPECT_EQ(CountryFileFolder(), std::filesystem::canonical(dir.path()).string());
    char record[kCountryRecordSize] = "untouched";
    EXPECT_EQ(FindCountry(row.call.c_str(), record), row.found);
    // The record is written exactly when a country is found, and never keeps the CR of a CR LF.
    EXPECT_EQ(record == std::string("untouched"), row.found == 0);
    EXPECT_EQ(ContinentBitOfRecord(record), row.foundBit);
    EXPECT_EQ(std::string(record).find('\r'), std::string::npos);
    EXPECT_EQ(ContinentOfCall(row.call.c_str()), row.callBit);
}

const Row kRows[] = {
    {"PrefixAlias", "XA5TEST:", 3, EU, EU},
    {"UpperCasedForTheContinentOnly", "xa5test:", 0, 0, EU},
    {"AliasOverride", "XA7ZZ:", 3, AS, AS},
    {"OverrideAfterSkippedGroup", "XA8ZZ:", 3, OC, OC},
    {"GroupsWithoutEffect", "XA9ZZ:", 3, EU, EU},
    {"NoAlias", "XC1ZZ:", 0, 0, 0},
    {"WholeCall", "XB1TEST", 99, SA, SA},
    {"ColonKeepsWholeCallPartial", "XB1TEST:", 7, SA, SA},
    {"LongerAliasIsNoPrefix", "XB1T", 2, SA, SA},
    {"WholeCallOnFirstAliasLine", "XA", 99, EU, EU},
    {"ShortestPartChosen", "XB1/XA5TEST:", 2, SA, SA},
    {"QPartNeverChosen", "XA5TEST/QRP:", 3, EU, EU},
    {"DesignatorP", "XA5TEST/P", 3, EU, EU},
    {"ColonSpoilsDesignator", "XA5TEST/MM:", 3, EU, 0},
    {"EqualPartsLongerMatchFirst", "XA5/XB:", 3, EU, EU},
    {"UnequalPartsShorterChosen", "XA5/XB", 3, EU, SA},
    {"EqualPartsTieSecondWins", "XB0Z/XA5:", 3, SA, EU},
    {"EqualPartsLongerMatchSecond", "XB1T/XA5:", 2, SA, EU},
    {"EqualPartsOnlySecondMatches", "XC9/XB:", 0, 0, SA},
    {"EqualPartsNeitherMatches", "XC9/XC:", 0, 0, 0},
    // The tenth part "XB" counts, the eleventh "X" is dropped.
    {"TenParts", "XA5TEST/P/P/P/P/P/P/P/P/XB/X", 3, EU, SA},
    // Cut to 39 characters the ":" is gone and "P" is a designator again.
    {"ColonCutAfter39Characters", "XA5" + std::string(34, 'T') + "/P:", 3, EU, EU},
    {"EmptyCall", "", 0, 0, 0},
    {"EmptyPartNeverMatches", "XA5TEST/", 3, EU, 0},
    {"LaterCountryWithEquallyLongAlias", "XA5TEST:", 3, EU, EU, Cty(kExample + kAfrica + "    XA5,XC;\n")},
    {"OnlyDecidingAliasOverrides", "YA123:", 4, AF, AF, Cty(kExample + kAfrica + "    YA{OC},YA12;\n")},
    // File shapes that caught faults before.
    {"LongLineReadAsTwoLines", "Q51", 2, AF, AF,
     Cty(kAfrica + "    " + std::string(248, 'Y') + ",ZQ5,ZR7;\n")},
    {"CrLfLineEnds", "XA7ZZ:", 3, AS, AS, Cty(std::regex_replace(kExample, std::regex("\n"), "\r\n"))},
    // The 254-character read ends between CR and LF: still one line end, so Northland's header follows.
    {"CrLfSplitByTheRead", "XA", 99, EU, EU, Cty(kAfrica + std::string(252, ' ') + ";\r\n" + kExample)},
    {"EndOfFileInsideCountry", "XA5TEST", 3, AF, AF, Cty(kAfrica + "    XA,XA5")},
    {"UnclosedGroup", "XA7Z", 3, AS, AS, Cty(kAfrica + "    XA7{AS}(15,XA8{OC;\n")},
    // Debian's cty.dat: DL, W, EA8 (Canary Is.), UA9 (Asiatic Russia), KH6 (Hawaii).
    {"RealPortable", "DL1ABC/P", 2, EU, EU, Cty(kReal)},
    {"RealMaritimeMobile", "W1ABC/MM", 1, NA, NA, Cty(kReal)},
    {"RealPrefixPart", "EA8/DL1ABC:", 3, AF, AF, Cty(kReal)},
    {"RealLongerAliasWins", "UA9ABC:", 3, AS, AS, Cty(kReal)},
    {"RealEqualPartsWholeCallFirst", "KH6/DL:", 3, OC, OC, Cty(kReal)},
    // The file's name: cty.dat, else the same name in other case, cty.dat first; a folder is no file.
    {"UpperCaseNameBesideFolder", "XA5TEST:", 3, EU, EU, {{"CTY.DAT", kExample}, {"cty.dat/x", ""}}},
    {"ExactNameFirst", "XA5TEST:", 3, EU, EU, {{"CTY.DAT", kAfrica + "    XA5;\n"}, {"cty.dat", kExample}}},
    {"FolderIsNoFile", "XB1TEST", 0, 0, 0, {{"cty.dat/cty.dat", kExample}}, false},
    {"MissingFile", "XB1TEST", 0, 0, 0, {{"not-cty.dat", kExample}}, false}};
INSTANTIATE_TEST_SUITE_P(Country, CountryTest, testing::ValuesIn(kRows),
                         [](const auto& row) { return std::string(row.param.name); });

// A new version takes effect at the next lookup: rewritten in place with the same size and a time
// one nanosecond later, then replaced by a rename with size and time as before.
TEST(CountryFile, NewVersionAtNextLookup)
{
    const testing_support::TempDir dir;
    const testing_support::ScopedCurrentDir here(dir.path());
    const auto later
        = std::filesystem::last_write_time(dir.write("cty.dat", kExample)) + std::chrono::nanoseconds(1);
    EXPECT_EQ(ContinentOfCall("XA5TEST:"), EU);
    std::filesystem::last_write_time(
        dir.write("cty.dat", std::regex_replace(kExample, std::regex("EU"), "AS")), later);
    EXPECT_EQ(ContinentOfCall("XA5TEST:"), AS);
    std::filesystem::last_write_time(dir.write("new", kExample), later);
    std::filesystem::rename(dir.path() / "new", dir.path() / "cty.dat");
    EXPECT_EQ(ContinentOfCall("XA5TEST:"), EU);
}

TEST(ContinentMask, ChecksAndBack)
{
    EXPECT_EQ(ChecksOfMask(5), (ContinentChecks {1, 0, 1, 0, 0, 0}));
    EXPECT_EQ(ChecksOfMask(64), ContinentChecks {});
    EXPECT_EQ(MaskOfChecks(ChecksOfMask(64)), 0);
}

} // namespace
