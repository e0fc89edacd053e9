#include "country_test_dir.h"

#include <random>

#include <gtest/gtest.h>

namespace {

using country_test::CountryDir;
using country_test::ExampleFile;
using country_test::Header;
using country_test::MarkedRecord;

// The header lines of the example file.
const std::string kNorthland = "Northland:                  14:  27:  EU:   52.00:   -10.00:    -1.0:   XA:";
const std::string kSouthland = "Southland:                  13:  12:  SA:  -20.00:    45.00:     3.0:   XB:";

std::string WithContinent(std::string header, const std::string& code)
{
    return header.replace(kContinentColumn, kContinentWidth, code + ":  ");
}

struct LookupCase
{
    const char* name;
    bool example; // the example file comes first
    std::string file;
    std::string call;
    int result;
    std::string record; // the record text expected; empty when it must stay untouched
    friend void PrintTo(const LookupCase& row, std::ostream* out) { *out << row.name; }
};

class FindCountryTest : public testing::TestWithParam<LookupCase>
{
};

TEST_P(FindCountryTest, ResultAndRecord)
{
    const LookupCase& row = GetParam();
    const CountryDir dir((row.example ? ExampleFile() : "") + row.file);
    MarkedRecord record;
    EXPECT_EQ(FindCountry(row.call.c_str(), record.text), row.result);
    if (row.record.empty()) {
        EXPECT_TRUE(record.Untouched()) << record.Str();
    } else {
        EXPECT_EQ(record.Str(), row.record);
    }
}

const std::string kThirdland = Header("Thirdland", "AF");

INSTANTIATE_TEST_SUITE_P(
    ExampleFile, FindCountryTest,
    testing::Values(
        LookupCase {"PlainAlias", true, "", "XA5TEST", 3, kNorthland + "\n"},
        LookupCase {"OverrideOfAlias", true, "", "XA7ZZ", 3, WithContinent(kNorthland, "AS") + "\n"},
        LookupCase {"AngleGroupSkippedThenOverride", true, "", "XA8ZZ", 3,
                    WithContinent(kNorthland, "OC") + "\n"},
        LookupCase {"GroupsWithoutEffect", true, "", "XA9ZZ", 3, kNorthland + "\n"},
        LookupCase {"WholeCall", true, "", "XB1TEST", 99, kSouthland + "\n"},
        LookupCase {"ColonPreventsWholeCall", true, "", "XB1TEST:", 7, kSouthland + "\n"},
        LookupCase {"LongerAliasIsNoPrefix", true, "", "XB1T", 2, kSouthland + "\n"},
        LookupCase {"NoAlias", true, "", "XC1", 0, ""},
        LookupCase {"WholeCallOnFirstAliasLine", true, "", "XA", 99, kNorthland + "\n"},
        LookupCase {"EmptyCall", true, "", "", 0, ""},
        LookupCase {"LaterCountryWithEquallyLongAlias", true, kThirdland + "\n    XA5,XC;\n", "XA5TEST", 3,
                    kNorthland + "\n"},
        LookupCase {"LaterCountryStillRead", true, kThirdland + "\n    XA5,XC;\n", "XC1", 2,
                    kThirdland + "\n"},
        LookupCase {"OnlyDecidingAliasOverrides", false, kThirdland + "\n    YA{OC},YA12;\n", "YA123", 4,
                    kThirdland + "\n"},
        LookupCase {"ShorterAliasOverridesWhenDeciding", false, kThirdland + "\n    YA{OC},YA12;\n", "YA9", 2,
                    WithContinent(kThirdland, "OC") + "\n"}),
    country_test::RowName());

// Files whose shape the format does not foresee; each row says how the lookup reads it.
const std::string kLongHeader = kThirdland + std::string(254 - kThirdland.size(), 'x');
const std::string kSplitAliasLine = "    " + [] {
    std::string aliases;
    for (int i = 0; i < 83; ++i) {
        aliases += "YY,";
    }
    return aliases;
}() + "ZQ5,ZR7;\n"; // the first read ends after "Z": "Q5,ZR7;" is read as a second alias line
const std::string k254Alias = kThirdland + "\n" + std::string(254, 'A') + "\n    AB;\n";

INSTANTIATE_TEST_SUITE_P(
    FileShapes, FindCountryTest,
    testing::Values(
        LookupCase {"RestOfLongHeaderIsAliasLine", false, kLongHeader + "ZQ,\n    ZR;\n", "ZQ1", 2,
                    kLongHeader},
        LookupCase {"AliasLineAfterRestOfLongHeader", false, kLongHeader + "ZQ,\n    ZR;\n", "ZR1", 2,
                    kLongHeader},
        LookupCase {"AliasEndingAtFirstPiece", false, kThirdland + "\n" + kSplitAliasLine, "ZQ5", 1,
                    kThirdland + "\n"},
        LookupCase {"AliasOfSecondPiece", false, kThirdland + "\n" + kSplitAliasLine, "Q51", 2,
                    kThirdland + "\n"},
        LookupCase {"WholeCallInSecondPiece", false, kThirdland + "\n" + kSplitAliasLine, "ZR7", 99,
                    kThirdland + "\n"},
        LookupCase {"AliasOf254Characters", false, k254Alias, std::string(300, 'A'), 254, kThirdland + "\n"},
        LookupCase {"EndAfterHeader", true, kThirdland + "\n", "XA5TEST", 3, kNorthland + "\n"},
        LookupCase {"EndAfterOpenAliasLine", false, kThirdland + "\n    XA,XA5,\n", "XA5TEST", 3,
                    kThirdland + "\n"},
        LookupCase {"LastLineWithoutLineFeed", false, kThirdland + "\n    XA5;", "XA5", 99,
                    kThirdland + "\n"},
        LookupCase {"BlankAliasLinesKeepCountry", false,
                    kNorthland + "\n\n \t \n    XA5;\n" + kSouthland + "\n    XB;\n", "XA5Z", 3,
                    kNorthland + "\n"},
        LookupCase {"BlankAliasLine", false, kNorthland + "\n\n \t \n    XA5;\n" + kSouthland + "\n    XB;\n",
                    "XB1", 2, kSouthland + "\n"},
        LookupCase {"UnclosedGroupEndsOverrides", false, kThirdland + "\n    XA7{AS}(15,XA8{OC;\n", "XA7Z", 3,
                    WithContinent(kThirdland, "AS") + "\n"},
        LookupCase {"UnclosedContinentOverride", false, kThirdland + "\n    XA7{AS}(15,XA8{OC;\n", "XA8Z", 3,
                    WithContinent(kThirdland, "OC") + "\n"},
        LookupCase {"OverrideCutByEndOfWord", false, kThirdland + "\n    XA9{A\n", "XA9Z", 3,
                    kThirdland.substr(0, kContinentColumn) + "A:   " + kThirdland.substr(41) + "\n"},
        LookupCase {"CrLfLineEnds", false, kThirdland + "\r\n    XA7{AS};\r\n", "XA7Z", 3,
                    WithContinent(kThirdland, "AS") + "\n"},
        LookupCase {"CrLfAcrossPieceBoundary", false,
                    kThirdland + std::string(253 - kThirdland.size(), 'x') + "\r\n    XA;\n", "XA", 99,
                    kThirdland + std::string(253 - kThirdland.size(), 'x') + "\n"},
        LookupCase {"EmptyFile", false, "", "XA5", 0, ""},
        LookupCase {"OnlyBlankLines", false, "\n\n\n", "XA5", 0, ""}),
    country_test::RowName());

TEST(FindCountryFile, MissingFileLeavesRecordUntouched)
{
    const CountryDir dir(ExampleFile());
    dir.Remove();
    MarkedRecord record;
    EXPECT_EQ(FindCountry("XA5TEST", record.text), 0);
    EXPECT_TRUE(record.Untouched());
}

TEST(FindCountryFile, ReplacedFileTakesEffectAtNextLookup)
{
    const CountryDir dir(ExampleFile());
    MarkedRecord record;
    ASSERT_EQ(FindCountry("XA5TEST", record.text), 3);
    EXPECT_EQ(record.Str(), kNorthland + "\n");
    dir.Write(kThirdland + "\n    XA5;\n");
    ASSERT_EQ(FindCountry("XA5TEST", record.text), 3);
    EXPECT_EQ(record.Str(), kThirdland + "\n");
}

TEST(FindCountryFile, NullCallIsNoMatch)
{
    const CountryDir dir(ExampleFile());
    MarkedRecord record;
    EXPECT_EQ(FindCountry(nullptr, record.text), 0);
    EXPECT_TRUE(record.Untouched());
}

// Results a lookup can give for any input: no match with the record untouched, a matched length
// no longer than the call, or a whole-call match.
void ExpectSaneLookup(const std::string& call)
{
    MarkedRecord record;
    const int result = FindCountry(call.c_str(), record.text);
    EXPECT_TRUE(result == 99 || (result >= 0 && result <= static_cast<int>(call.size()))) << result;
    EXPECT_EQ(result == 0, record.Untouched());
    EXPECT_LT(std::strlen(record.text), static_cast<std::size_t>(kCountryRecordSize));
}

TEST(FindCountryFile, HugeLinesAndLongCalls)
{
    // 10,000 characters of header, then an alias line of the same size: both are read in pieces.
    std::string aliases = "    ";
    while (aliases.size() < 10000) {
        aliases += "YZ,";
    }
    const CountryDir dir(kThirdland + std::string(10000, 'x') + "\n" + aliases + "ZQ;\n" + ExampleFile());
    ASSERT_EQ(aliases.size() / 254, (aliases.size() + 3) / 254) << "\"ZQ;\\n\" must stay in one piece";
    MarkedRecord record;
    EXPECT_EQ(FindCountry("XA5TEST", record.text), 3);
    EXPECT_EQ(record.Str(), kNorthland + "\n");
    EXPECT_EQ(FindCountry("ZQ", record.text), 99);
    ExpectSaneLookup("XA5" + std::string(497, 'T'));
    ExpectSaneLookup(std::string(500, 'Y'));
    ExpectSaneLookup("YZ,YZ,YZ\xff\x80\x01\t");
}

TEST(FindCountryFile, BinaryFile)
{
    std::mt19937 random(20261206);
    std::string bytes(64 * 1024, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random() % 256);
    }
    const CountryDir dir(bytes);
    const std::string calls[] = {"XA5", "A", "\x80\xff", ",", "{", "(", std::string(39, '\xfe')};
    for (const std::string& call : calls) {
        ExpectSaneLookup(call);
    }
    // Every two-byte start of the file as a call, so that some do match.
    for (std::size_t i = 0; i < 512; i += 2) {
        ExpectSaneLookup(bytes.substr(i, 2).c_str());
    }
}

struct FieldCase
{
    const char* name;
    std::string record;
    const char* code; // written first when set
    std::string after;
    std::string read;
    friend void PrintTo(const FieldCase& row, std::ostream* out) { *out << row.name; }
};

class ContinentFieldTest : public testing::TestWithParam<FieldCase>
{
};

TEST_P(ContinentFieldTest, WriteThenRead)
{
    const FieldCase& row = GetParam();
    MarkedRecord record;
    std::memcpy(record.text, row.record.c_str(), row.record.size() + 1);
    if (row.code != nullptr) {
        WriteContinentField(record.text, row.code, kContinentColumn, kContinentWidth);
    }
    EXPECT_EQ(record.Str(), row.after);
    char out[kCountryRecordSize];
    std::memset(out, '#', sizeof(out));
    ReadContinentField(record.text, out, kContinentColumn, kContinentWidth);
    EXPECT_EQ(std::string(out), row.read);
}

const std::string kPad(kContinentColumn, '.');

INSTANTIATE_TEST_SUITE_P(
    Fields, ContinentFieldTest,
    testing::Values(
        FieldCase {"LeadingBlanks", kPad + "  EU:rest\n", nullptr, kPad + "  EU:rest\n", "EU"},
        FieldCase {"TrailingBlanks", kPad + "EU:  rest", nullptr, kPad + "EU:  rest", "EU"},
        FieldCase {"WrittenOverLeadingBlanks", kPad + "  EU:rest\n", "AS", kPad + "AS:  rest\n", "AS"},
        FieldCase {"WrittenOverTrailingBlanks", kPad + "EU:  rest", "OC", kPad + "OC:  rest", "OC"},
        FieldCase {"WrittenAtEndOfText", kPad + "  EU:", "SA", kPad + "SA:  ", "SA"},
        FieldCase {"ShortCode", kPad + "  EU:", "A", kPad + "A:   ", "A"},
        FieldCase {"EmptyCode", kPad + "  EU:", "", kPad + ":    ", ""},
        FieldCase {"NoColonEndsAfterCopy", kPad + "ABCDEFG", nullptr, kPad + "ABCDEFG", "ABCDE"},
        FieldCase {"BlanksThenNoColon", kPad + "   NA\n", nullptr, kPad + "   NA\n", "NA"},
        FieldCase {"AllBlanks", kPad + "     ", nullptr, kPad + "     ", ""},
        FieldCase {"HeaderOf40Characters", kPad + "  EU", "AS", kPad + "  EU", ""},
        FieldCase {"HeaderEndingBeforeField", "Northland:", "AS", "Northland:", ""}),
    country_test::RowName());

} // namespace
