#include "country/country.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr int EU = kContinentEU, NA = kContinentNA, SA = kContinentSA, AF = kContinentAF, AS = kContinentAS,
              OC = kContinentOC;

std::string ReadWholeFile(const std::filesystem::path& path)
{
    return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
}
const auto ExampleFile
    = [] { return ReadWholeFile(testing_support::testDataPath("country/example_cty.dat")); };

/// A temporary directory made the current one, holding the cty.dat a test needs.
struct CountryDir
{
    explicit CountryDir(const std::string& content) { dir.write("cty.dat", content); }
    testing_support::TempDir dir;
    testing_support::ScopedCurrentDir current {dir.path()};
};

/// A record filled with a mark by default, so that any write to it shows.
const std::string kUntouched(kCountryRecordSize - 1, '#');
struct Record
{
    explicit Record(const std::string& content = kUntouched) { content.copy(text, sizeof(text) - 1); }
    [[nodiscard]] std::string Str() const { return text; }
    char text[kCountryRecordSize] = {};
};

const auto kRowName = [](const auto& info) { return std::string(info.param.name); };

const std::string kNorth = "Northland:                  14:  27:  EU:   52.00:   -10.00:    -1.0:   XA:\n";
const std::string kSouth = "Southland:                  13:  12:  SA:  -20.00:    45.00:     3.0:   XB:\n";
const std::string kThird = "Thirdland:                  14:  27:  AF:   52.00:   -10.00:    -1.0:   ZZ:\n";
// A header line cut by the 254-character read: no line feed of its own.
const std::string kLongHeader = (kThird.substr(0, kThird.size() - 1) + std::string(254, 'x')).substr(0, 254);

std::string Override(std::string line, const std::string& code)
{
    return line.replace(kContinentColumn, kContinentWidth, (code + ":    ").substr(0, kContinentWidth));
}

struct LookupRow
{
    const char* name;
    bool example; // the example file comes before `file`
    std::string file, call;
    int result;
    std::string record;
    friend void PrintTo(const LookupRow& row, std::ostream* out) { *out << row.name; }
};
using FindCountryTest = testing::TestWithParam<LookupRow>;

TEST_P(FindCountryTest, ResultAndRecord)
{
    const LookupRow& row = GetParam();
    const CountryDir dir((row.example ? ExampleFile() : "") + row.file);
    Record record;
    EXPECT_EQ(FindCountry(row.call.c_str(), record.text), row.result);
    EXPECT_EQ(record.Str(), row.record);
}

const LookupRow kExampleLookups[] = {
    {"PlainAlias", true, "", "XA5TEST", 3, kNorth},
    {"OverrideOfAlias", true, "", "XA7ZZ", 3, Override(kNorth, "AS")},
    {"AngleGroupSkippedThenOverride", true, "", "XA8ZZ", 3, Override(kNorth, "OC")},
    {"GroupsWithoutEffect", true, "", "XA9ZZ", 3, kNorth},
    {"WholeCall", true, "", "XB1TEST", 99, kSouth},
    {"ColonPreventsWholeCall", true, "", "XB1TEST:", 7, kSouth},
    {"LongerAliasIsNoPrefix", true, "", "XB1T", 2, kSouth},
    {"NoAlias", true, "", "XC1", 0, kUntouched},
    {"WholeCallOnFirstAliasLine", true, "", "XA", 99, kNorth},
    {"EmptyCall", true, "", "", 0, kUntouched},
    {"LaterCountryWithEquallyLongAlias", true, kThird + "    XA5,XC;\n", "XA5TEST", 3, kNorth},
    {"OnlyDecidingAliasOverrides", true, kThird + "    YA{OC},YA12;\n", "YA123", 4, kThird},
};
INSTANTIATE_TEST_SUITE_P(ExampleFile, FindCountryTest, testing::ValuesIn(kExampleLookups), kRowName);

const LookupRow kFileShapes[] = {
    {"RestOfLongHeaderIsAliasLine", false, kLongHeader + "ZQ,\n    ZR;\n", "ZQ1", 2, kLongHeader},
    // The first read ends after ",Z": "Q5,ZR7;" is read as a second alias line.
    {"LongAliasLineIsTwoAliasLines", false, kThird + "    " + std::string(248, 'Y') + ",ZQ5,ZR7;\n", "Q51", 2,
     kThird},
    {"AliasOf254Characters", false, kThird + std::string(254, 'A') + "\n    AB;\n", std::string(300, 'A'),
     254, kThird},
    {"EndAfterHeader", true, kThird, "XA5TEST", 3, kNorth},
    {"EndAfterOpenAliasLine", false, kThird + "    XA,XA5,\n", "XA5TEST", 3, kThird},
    {"BlankAliasLinesKeepCountry", false, kNorth + "\n \t \n    XA5;\n" + kSouth + "    XB;\n", "XA5Z", 3,
     kNorth},
    {"UnclosedGroupEndsOverrides", false, kThird + "    XA7{AS}(15,XA8{OC;\n", "XA7Z", 3,
     Override(kThird, "AS")},
    {"OverrideCutByEndOfWord", false, kThird + "    XA9{A\n", "XA9Z", 3, Override(kThird, "A")},
    {"CrLfLineEnds", false, kThird.substr(0, kThird.size() - 1) + "\r\n    XA7{AS};\r\n", "XA7Z", 3,
     Override(kThird, "AS")},
    {"CrLfAcrossPieceBoundary", false, kLongHeader.substr(0, 253) + "\r\n    XA;\n", "XA", 99,
     kLongHeader.substr(0, 253) + "\n"},
    // Pieces of 10,000-character lines are alias lines of one country; ",ZQ;" is in the last piece.
    {"TenThousandCharacterLines", false,
     kLongHeader + std::string(10000, 'x') + "\n    " + std::string(9996, 'Y') + ",ZQ;\n", "ZQ", 99,
     kLongHeader},
    {"EmptyFile", false, "", "XA5", 0, kUntouched},
};
INSTANTIATE_TEST_SUITE_P(FileShapes, FindCountryTest, testing::ValuesIn(kFileShapes), kRowName);

TEST(FindCountryFile, ReadAnewAtEveryLookup)
{
    CountryDir dir(ExampleFile());
    Record record;
    EXPECT_EQ(FindCountry("XA5TEST", record.text), 3);
    EXPECT_EQ(record.Str(), kNorth);
    EXPECT_EQ(ContinentOfCall(nullptr), 0);
    dir.dir.write("cty.dat", kThird + "    XA5;\n");
    EXPECT_EQ(FindCountry("XA5TEST", record.text), 3);
    EXPECT_EQ(record.Str(), kThird);
    std::filesystem::remove(dir.dir.path() / "cty.dat");
    EXPECT_EQ(FindCountry("XA5TEST", record.text), 0);
    EXPECT_EQ(record.Str(), kThird);
    EXPECT_EQ(ContinentOfCall("XB1TEST"), 0);
}

TEST(FindCountryFile, BinaryFileGivesSaneResults)
{
    std::mt19937 random(20261206);
    std::string bytes(64 * 1024, '\0');
    std::generate(bytes.begin(), bytes.end(), [&random] { return static_cast<char>(random()); });
    const CountryDir dir(bytes);
    std::vector<std::string> calls = {"XA5", "\x80\xff", ",", "{", "(", "XA5" + std::string(497, 'T')};
    for (std::size_t i = 0; i < 512; i += 2) {
        calls.push_back(bytes.substr(i, 2).c_str()); // two-byte starts of the file, so that some do match
    }
    // Whatever the file holds: 0 with the record untouched, a length no longer than the call, or 99.
    for (const std::string& call : calls) {
        Record record;
        const int result = FindCountry(call.c_str(), record.text);
        EXPECT_TRUE(result == 99 || (result >= 0 && result <= static_cast<int>(call.size()))) << call;
        EXPECT_EQ(result == 0, record.Str() == kUntouched) << call;
    }
}

struct Call
{
    const char* name;
    std::string text;
    int bit;
    friend void PrintTo(const Call& row, std::ostream* out) { *out << row.name; }
};
using ContinentOfCallTest = testing::TestWithParam<Call>;

TEST_P(ContinentOfCallTest, Bit)
{
    const CountryDir dir(ExampleFile());
    EXPECT_EQ(ContinentOfCall(GetParam().text.c_str()), GetParam().bit);
}

INSTANTIATE_TEST_SUITE_P(
    ExampleFile, ContinentOfCallTest,
    testing::Values(
        Call {"PartialMatch", "XA5TEST:", EU}, Call {"LowerCase", "xa5test:", EU},
        Call {"Override", "XA7ZZ:", AS}, Call {"OverrideAfterSkippedGroup", "XA8ZZ:", OC},
        Call {"NoAlias", "XC1ZZ:", 0}, Call {"ColonKeepsWholeCallPartial", "XB1TEST:", SA},
        Call {"WholeCall", "XB1TEST", SA}, Call {"ShorterPrefixPartChosen", "XB1/XA5TEST:", SA},
        Call {"FirstOfShortestParts", "XB/XA/XA5TEST:", SA}, Call {"QPartNeverChosen", "XA5TEST/QRP:", EU},
        Call {"DesignatorP", "XA5TEST/P", EU}, Call {"ColonSpoilsDesignatorP", "XA5TEST/P:", 0},
        Call {"ColonSpoilsDesignatorM", "XA5TEST/M:", 0}, Call {"ColonSpoilsDesignatorMM", "XA5TEST/MM:", 0},
        Call {"EqualPartsLongerMatchFirst", "XA5/XB:", EU}, Call {"UnequalPartsShorterChosen", "XA5/XB", SA},
        Call {"EqualPartsTieSecondWins", "XB0Z/XA5:", EU},
        Call {"EqualPartsLongerMatchSecond", "XB1T/XA5:", EU},
        Call {"EqualPartsOnlySecondMatches", "XC9/XB:", SA}, Call {"EqualPartsNeitherMatches", "XC9/XC:", 0},
        Call {"TenthPartConsidered", "XA5TEST/P/P/P/P/P/P/P/P/XB", SA},
        Call {"EleventhPartDropped", "XA5TEST/P/P/P/P/P/P/P/P/P/XB", EU},
        // 39 characters "XA5TTT.../P": "P" is a designator once the ":" is cut off.
        Call {"ColonCutAfter39Characters", "XA5" + std::string(34, 'T') + "/P:", EU},
        Call {"EmptyText", "", 0}, Call {"ColonAlone", ":", 0},
        // The whole text matched XA5 first: the empty part chosen must not reuse that record.
        Call {"TrailingSlash", "XA5TEST/", 0}, Call {"LeadingSlash", "/XA5TEST:", 0},
        Call {"DoubleSlash", "XA5//XB", 0}, Call {"ControlAndHighBytes", "XA7\x01\x80\xff/\t:", 0}),
    kRowName);

using RealCountryFileTest = testing::TestWithParam<Call>;

TEST_P(RealCountryFileTest, Bit)
{
    const CountryDir dir(ReadWholeFile(testing_support::kRealCountryFile));
    EXPECT_EQ(ContinentOfCall(GetParam().text.c_str()), GetParam().bit);
}

// Each bit is read off Debian's hamradio-files cty.dat; an "=CALL" entry keeps its "=" and never matches.
const Call kRealCalls[] = {
    {"Germany", "DL1ABC:", EU}, // DL
    {"Scotland", "GM4ABC:", EU}, // GM is longer than G (England)
    {"QrpSuffix", "G4ABC/QRP:", EU}, // "QRP:" begins with Q: G, England
    {"PrefixFrance", "F/DL1ABC:", EU}, // F is the shortest part
    {"PortableNoColon", "DL1ABC/P", EU}, // P is a designator
    {"PortableWithColon", "DL1ABC/P:", 0}, // no alias that "P:" begins with
    {"MaritimeWithColon", "W1ABC/MM:", EU}, // "MM:" is the shortest part: MM, Scotland
    {"EqualPartsUnequalColon", "OH2/VK2:", EU}, // parts of 3 and 4: OH, Finland
    {"MaritimeNoColon", "W1ABC/MM", NA}, // MM is a designator: W
    {"ZoneOverridesIgnored", "VE3ABC:", NA}, // VE3(4)[4], Canada
    {"CallSlashPrefix", "G4ABC/VP9:", NA}, // VP9, Bermuda
    {"PrefixSlashCall", "VP9/G4ABC:", NA}, // VP9, Bermuda
    {"WholeCallEntryIgnored", "AA2TT:", NA}, // =AA2TT never matches; AA -> K
    {"Argentina", "LU1ABC:", SA}, // LU
    {"SouthAfrica", "ZS6ABC:", AF}, // ZS
    {"CanaryPrefix", "EA8/DL1ABC:", AF}, // EA8 beats EA (Spain)
    {"Japan", "JA1ABC:", AS}, // JA
    {"AsiaticRussia", "UA9ABC:", AS}, // UA9 beats U (European Russia)
    {"Australia", "VK2ABC:", OC}, // VK
    {"Hawaii", "KH6ABC:", OC}, // KH6 beats K
    {"EqualPartsFirstBetter", "KH6/DL:", OC}, // KH6 is listed whole (99) against DL's 2
    {"EqualPartsTie", "OH2/VK2", OC}, // 2 against 2: the second wins
};
INSTANTIATE_TEST_SUITE_P(HamradioFiles, RealCountryFileTest, testing::ValuesIn(kRealCalls), kRowName);

struct FieldRow
{
    const char* name;
    std::string field; // the text from the continent column on
    std::string read;
    int bit;
    const char* code; // written first when set
    std::string after;
    friend void PrintTo(const FieldRow& row, std::ostream* out) { *out << row.name; }
};
using ContinentFieldTest = testing::TestWithParam<FieldRow>;

TEST_P(ContinentFieldTest, WriteReadAndBit)
{
    const FieldRow& row = GetParam();
    const std::string pad(kContinentColumn, '.');
    Record record(pad + row.field), out;
    if (row.code != nullptr) {
        WriteContinentField(record.text, row.code, kContinentColumn, kContinentWidth);
        EXPECT_EQ(record.Str(), pad + row.after);
    }
    ReadContinentField(record.text, out.text, kContinentColumn, kContinentWidth);
    EXPECT_EQ(out.Str(), row.read);
    EXPECT_EQ(ContinentBitOfRecord(record.text), row.bit);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ContinentFieldTest,
    testing::Values(FieldRow {"LeadingBlanks", "  EU:rest\n", "EU", EU, nullptr, ""},
                    FieldRow {"TrailingBlanks", "AF:  rest", "AF", AF, nullptr, ""},
                    FieldRow {"BlanksCountAsColumns", "   NA\n", "NA", NA, nullptr, ""},
                    FieldRow {"NoColonEndsAfterCopy", "ABCDEFG", "ABCDE", 0, nullptr, ""},

                    FieldRow {"LowerCaseIsNoCode", "  eu:", "eu", 0, nullptr, ""},
                    FieldRow {"LongerCodeIsNoCode", " EUR:", "EUR", 0, nullptr, ""},

                    FieldRow {"WrittenOverLeadingBlanks", "  EU:rest\n", "AS", AS, "AS", "AS:  rest\n"},
                    FieldRow {"WrittenOverTrailingBlanks", "EU:  rest", "OC", OC, "OC", "OC:  rest"},
                    FieldRow {"WrittenAtEndOfText", "  EU:", "SA", SA, "SA", "SA:  "},
                    FieldRow {"ShortCode", "  EU:", "A", 0, "A", "A:   "},

                    FieldRow {"HeaderOf40Characters", "  EU", "", 0, "AS", "  EU"}),
    kRowName);

} // namespace
