#include "relay/spot_feeds.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>

#include <QByteArray>
#include <gtest/gtest.h>

using Lines = std::vector<std::string>;
const std::string kInvalid = "Received unvalid page\r\n";
// Feed times are UTC whatever the machine's zone. This one is India's (no summer time), set before
// main so that every time call of the process sees it.
const int kIndiaTime = setenv("TZ", "IST-5:30", 1);

// Every row runs under a German locale, whose printf writes 14025,0: the feeds' numbers must not
// follow it. CTest makes the locale once (LOCPATH); run alone, the test makes it for itself from
// the locales package's sources.
struct CommaLocale : testing::Environment
{
    void SetUp() override
    {
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) {
            return;
        }
        const std::string command = "localedef -i de_DE -f UTF-8 " + (dir.path() / "de_DE.UTF-8").string();
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        setenv("LOCPATH", dir.path().c_str(), 1);
        ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    }
    testing_support::TempDir dir;
};
testing::Environment* const kCommaLocale = testing::AddGlobalTestEnvironment(new CommaLocale);

TEST(CommaLocale, IsInForce)
{
    EXPECT_STREQ(std::localeconv()->decimal_point, ",");
}

const auto With = [](std::string t, auto a, auto b) { return t.replace(t.find(a), std::strlen(a), b); };

// clang-format off
const auto Times = [](int n, const std::string& t) { return QByteArray::fromStdString(t).repeated(n).toStdString(); };

// The lines of the page rows "N0CALL     14025.0 N1CALL  ...  1234Z" and
// "DL1ABC-#    7074.0 VP2V/W1ABCDFT8 -09db "Tnx 73! long commen0823Z", and the same spots in each feed.
const std::string kA = "DX de N0CALL:     14025.0  N1CALL                                     1234Z";
const std::string kB = "DX de DL1ABC-#:    7074.0 VP2V/W1ABCDE FT8 -09db \"Tnx 73! long commen 0823Z";
const std::string kSummitA = R"({"de_call":"N0CALL","dx_call":"N1CALL","frequency":14025.0,"info":null,)"
                             R"("time":"2024-01-09T12:34:56","id":7})";
const std::string kSummitB = R"({"info":"FT8 -09db \"Tnx 73! long comment","de_call":"DL1ABC-#","frequency":7074,)"
                             R"("time":"2024-01-09T08:23:48","dx_call":"VP2V/W1ABCDE"})";
const std::string kHoleA = R"({"dx_call":"N1CALL","de_call":"N0CALL","freq":14025000,"time":1704803676})";
const std::string kHoleB = R"({"dx_call":"VP2V/W1ABCDE","de_call":"DL1ABC-#","freq":7074000.0,"mode":"FT8",)"
                           R"("comment":"FT8\t-09db \"Tnx 73! long comment","time":1704788628.5})";
const std::string kCaretA = "N0CALL^14025.0^N1CALL^^1234 2024-01-09^^^EU^20M^France^227\n";
const std::string kCaretB = "DL1ABC-#^7074^VP2V/W1ABCDE^FT8 -09db \"Tnx 73! long comment^0823 2024-01-09^L^^EU^40M^^\n";
// Lower-case calls, a 12-character DX call and a comment whose 30th byte is inside the "ö".
const std::string kSummitUtf8 = R"({"de_call":"dl1abc","dx_call":"ea8/dl1abc/p","frequency":14025.0,)"
                                R"("info":"CQ DX, QSL via büro, 73 de Jörg in Köln","time":"2024-01-09T12:00:00"})";
const std::string kUtf8 = "DX de DL1ABC:     14025.0 EA8/DL1ABC/P CQ DX, QSL via büro, 73 de Jör 1200Z";
// HamQTH's escapes, and a byte that is no UTF-8.
const std::string kCaretEscapes = "k1abc^7012.5^w1aw^Caf\xe9 73\\'s \\\"QSO\\\" \\\\^1100 2024-01-09^^^NA^40M^^\n";
const std::string kEscapes = "DX de K1ABC:       7012.5  W1AW        Caf? 73's \"QSO\" \\              1100Z";

// A row prints as its name, which names its test.
struct Row { const char* name; std::string body; Lines lines; operator const char*() const { return name; } };

const Row kRows[] = {
    // The middle record of each feed has one fault: hour 24, epoch seconds as text, 30 February.
    {"DxSummitJson", "[" + kSummitA + "," + With(kSummitA, "T12", "T24") + "," + kSummitB + "]", {kB, kA}},
    {"SpotholeJson", "[" + kHoleA + "," + With(kHoleA, "1704803676", "\"1704803676\"") + "," + kHoleB + "]", {kB, kA}},
    {"HamqthCaretLines", kCaretA + With(kCaretA, "01-09", "02-30") + kCaretB, {kB, kA}},
    {"LowerCaseCallsAndUtf8", "[" + With(With(kHoleA, "N1", "n1"), "N0", "n0") + "," + kSummitUtf8 + "]", {kUtf8, kA}},
    {"CaretEscapesAndForeignBytes", kCaretEscapes, {kEscapes}},
    {"AtMost1000JsonRecords", "[" + kHoleA + "," + Times(999, kSummitA + ",") + kHoleB + "]", Lines(1000, kA)},
    {"AtMost1000CaretLines", Times(1000, kCaretA) + kCaretB, Lines(1000, kA)},
    {"EmptyArray", " [ ]\n", {}},
    {"TruncatedJson", "[" + kSummitA + "," + kSummitB.substr(0, 60), {kInvalid}},
    {"JsonThenCaretLine", "[" + kSummitA + "]\n" + kCaretA, {kInvalid}},
    {"HtmlPageWithCaretLines", "<HTML><BODY>\n" + kCaretA + "</BODY></HTML>\n", {kInvalid}},
    {"NoSpotInTheFirstMiB", "[1,{},[],\"" + std::string(1 << 20, 'x') + "\"," + kSummitA + "]", {kInvalid}},
    // "A^1^B^^1234 2024-01-09" is a spot; each line here has one fault.
    {"OnlyMalformedLines", "A^1\nA B^1^B^^1234 2024-01-09\nA\a^1^B^^1234 2024-01-09\nA\x7F^1^B^^1234 2024-01-09\n"
        "AAAAAAAAAAAAAAAAAAAAA^1^B^^1234 2024-01-09\nA^0.04^B^^1234 2024-01-09\n"
        "A^nan^B^^1234 2024-01-09\nA^99999999.96^B^^1234 2024-01-09\nA^1^B^^1260 2024-01-09\n", {kInvalid}},
};
// clang-format on

using SpotFeeds = testing::TestWithParam<Row>;

// A body that is no feed is what the relay logs "Received unvalid page" for.
TEST_P(SpotFeeds, GivesThePageLines)
{
    const auto spots = ParseSpotFeed(GetParam().body);
    Lines lines = spots ? Lines() : Lines {kInvalid};
    std::ranges::transform(spots.value_or(std::vector<Spot>()), std::back_inserter(lines),
                           [](const Spot& spot) { return ClusterLine(spot); });
    EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Rows, SpotFeeds, testing::ValuesIn(kRows), testing::PrintToStringParamName());
