#include "country_test_dir.h"

#include <gtest/gtest.h>

namespace {

using country_test::CountryDir;
using country_test::ExampleFile;

struct CallCase
{
    const char* name;
    std::string text;
    int bit;
    friend void PrintTo(const CallCase& row, std::ostream* out) { *out << row.name; }
};

class ContinentOfCallTest : public testing::TestWithParam<CallCase>
{
};

TEST_P(ContinentOfCallTest, Bit)
{
    const CountryDir dir(ExampleFile());
    EXPECT_EQ(ContinentOfCall(GetParam().text.c_str()), GetParam().bit);
}

INSTANTIATE_TEST_SUITE_P(
    ExampleFile, ContinentOfCallTest,
    testing::Values(
        CallCase {"PartialMatch", "XA5TEST:", kContinentEU}, CallCase {"LowerCase", "xa5test:", kContinentEU},
        CallCase {"Override", "XA7ZZ:", kContinentAS},
        CallCase {"OverrideAfterSkippedGroup", "XA8ZZ:", kContinentOC}, CallCase {"NoAlias", "XC1ZZ:", 0},
        CallCase {"ColonKeepsWholeCallPartial", "XB1TEST:", kContinentSA},
        CallCase {"WholeCall", "XB1TEST", kContinentSA},
        CallCase {"ShorterPrefixPartChosen", "XB1/XA5TEST:", kContinentSA},
        CallCase {"FirstOfShortestParts", "XB/XA/XA5TEST:", kContinentSA},
        CallCase {"QPartNeverChosen", "XA5TEST/QRP:", kContinentEU},
        CallCase {"DesignatorP", "XA5TEST/P", kContinentEU},
        CallCase {"ColonSpoilsDesignatorP", "XA5TEST/P:", 0},
        CallCase {"ColonSpoilsDesignatorM", "XA5TEST/M:", 0},
        CallCase {"ColonSpoilsDesignatorMM", "XA5TEST/MM:", 0},
        CallCase {"EqualPartsLongerMatchFirst", "XA5/XB:", kContinentEU},
        CallCase {"UnequalPartsShorterChosen", "XA5/XB", kContinentSA},
        CallCase {"EqualPartsTieSecondWins", "XB0Z/XA5:", kContinentEU},
        CallCase {"EqualPartsLongerMatchSecond", "XB1T/XA5:", kContinentEU},
        CallCase {"EqualPartsOnlySecondMatches", "XC9/XB:", kContinentSA},
        CallCase {"EqualPartsNeitherMatches", "XC9/XC:", 0},
        CallCase {"TenthPartConsidered", "XA5TEST/P/P/P/P/P/P/P/P/XB", kContinentSA},
        CallCase {"EleventhPartDropped", "XA5TEST/P/P/P/P/P/P/P/P/P/XB", kContinentEU},
        CallCase {"OnlyFirst39Characters", "XA5TEST/" + std::string(31, 'Q') + "/XB", kContinentEU},
        CallCase {"Long500Characters", "XA5" + std::string(497, 'T') + ":", kContinentEU},
        CallCase {"Slashes500", "XB0" + std::string(497, '/'), 0}, CallCase {"EmptyText", "", 0},
        CallCase {"ColonAlone", ":", 0},
        // The whole text matched XA5 first: the empty part chosen must not reuse that record.
        CallCase {"EmptyPartAfterPartialMatch", "XA5TEST/", 0}, CallCase {"TwoEmptyParts", "/", 0},
        CallCase {"EmptyPartInMiddle", "XA5//XB", 0},
        CallCase {"ControlAndHighBytes", "XA7\x01\x80\xff/\t:", 0}),
    country_test::RowName());

TEST(ContinentOfCall, AbsentText)
{
    const CountryDir dir(ExampleFile());
    EXPECT_EQ(ContinentOfCall(nullptr), 0);
}

TEST(ContinentOfCall, NoCountryFileGivesNoContinent)
{
    const CountryDir dir(ExampleFile());
    dir.Remove();
    for (const char* text : {"XA5TEST:", "XB1TEST", "XA5/XB:"}) {
        EXPECT_EQ(ContinentOfCall(text), 0) << text;
    }
}

TEST(ContinentOfCall, ReplacedFileTakesEffectAtNextCall)
{
    const CountryDir dir(ExampleFile());
    EXPECT_EQ(ContinentOfCall("XA5TEST:"), kContinentEU);
    dir.Write(country_test::Header("Otherland", "AF") + "\n    XA5;\n");
    EXPECT_EQ(ContinentOfCall("XA5TEST:"), kContinentAF);
}

class ContinentBitTest : public testing::TestWithParam<std::pair<std::string, int>>
{
};

TEST_P(ContinentBitTest, FieldToBit)
{
    char record[kCountryRecordSize] = {};
    const std::string text = std::string(kContinentColumn, ' ') + GetParam().first + "   0.00:";
    std::memcpy(record, text.c_str(), text.size() + 1);
    EXPECT_EQ(ContinentBitOfRecord(record), GetParam().second) << text;
}

INSTANTIATE_TEST_SUITE_P(Codes, ContinentBitTest,
                         testing::Values(std::pair {"  EU:", 1}, std::pair {"  NA:", 2},
                                         std::pair {"  SA:", 4}, std::pair {"  AF:", 8},
                                         std::pair {"  AS:", 16}, std::pair {"  OC:", 32},
                                         std::pair {"AN:  ", 0}, std::pair {"  eu:", 0},
                                         std::pair {" EUR:", 0}, std::pair {"   E:", 0},
                                         std::pair {"    :", 0}, std::pair {"EU   ", 0}));

} // namespace
