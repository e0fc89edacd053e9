#include "relay_rig.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace relay_test;

struct PageCase
{
    const char* name;
    std::vector<std::string> pages; ///< fetched one per tick, the pty linked as the port
    int filter;
    std::vector<std::string> log; ///< oldest first
    std::string sent;
};

class PageProcessing : public ::testing::TestWithParam<PageCase>
{
};

TEST_P(PageProcessing, LogsAndSends)
{
    RelayRig rig;
    rig.settings.DxccFilter = GetParam().filter;
    rig.source.bodies = GetParam().pages;
    rig.Start();
    for (std::size_t tick = 0; tick < GetParam().pages.size(); ++tick) {
        rig.relay.OnTimer();
    }
    EXPECT_EQ(rig.Log(), GetParam().log);
    EXPECT_EQ(rig.Sent(), GetParam().sent);
}

const std::string kLongSpotterLine = "DL9ABCDEFG 14025.0 N1CALL     CQ UP 2                       1234Z";
const std::string kLeadingSpaceLine = " 0CALL     14025.0 N1CALL     CQ UP 2                       1234Z";
// Differs from kLineN0 only before position 8 after the first space, and from position 64 on.
const std::string kSameCutsLine
    = "N0CALL Q   14025.0 N1CALL     CQ UP 2                       1234Q and more";
const std::string kShortLine = "N0CALL     7012.5 N1CALL     TEST";
const std::string kShortCluster = "DX de N0CALL:     7012.5  N1CALL     T EST Z";
const std::string kCrLine = "N0CALL     14025.0 N1CALL     CQ\rUP 2                       1234Z";
const std::string kCrCluster = "DX de N0CALL:     14025.0  N1CALL      CQ\rUP 2                        1234Z";

const PageCase kPageCases[] = {
    {"WorkedExample", {Page({kLineN0})}, 0, {kClusterN0}, kClusterN0 + "\r\n"},
    {"ShortLineClippedToItsLength", {Page({kShortLine})}, 0, {kShortCluster}, kShortCluster + "\r\n"},
    {"LowerCaseMarkers", {"<pre>\n" + kLineN0 + "\n</pre>"}, 0, {kInvalidPage}, ""},
    {"NoClosingMarker", {"<PRE>\n" + kLineN0 + "\n"}, 0, {kInvalidPage}, ""},
    {"EmptyBody", {""}, 0, {kInvalidPage}, ""},
    {"ClosingMarkerFirst", {"</PRE>\n" + kLineN0 + "\n<PRE>\n" + kLineXA + "\n</PRE>"}, 0, {}, ""},
    {"EmptyBlock", {"<PRE></PRE>"}, 0, {}, ""},
    {"OnlyTheFirstBlock", {Page({kLineN0}) + Page({kLineXB})}, 0, {kClusterN0}, kClusterN0 + "\r\n"},
    {"LastLineWithoutLineFeedDropped",
     {"<PRE>\n" + kLineN0 + "\n" + kLineXB + "</PRE>"},
     0,
     {kClusterN0},
     kClusterN0 + "\r\n"},
    {"BlockWithoutLeadingLineFeed", {"<PRE>" + kLineN0 + "\n</PRE>"}, 0, {kClusterN0}, kClusterN0 + "\r\n"},
    {"EmptyLinesAndLinesWithoutSpaceSkipped",
     {Page({"", "NOSPACEHERE", kLineN0, ""})},
     0,
     {kClusterN0},
     kClusterN0 + "\r\n"},
    {"LeadingSpaceGivesEmptySpotterThatAlwaysPasses",
     {Page({kLeadingSpaceLine})},
     63,
     {"DX de :           14025.0  N1CALL      CQ UP 2                        1234Z"},
     "DX de :           14025.0  N1CALL      CQ UP 2                        1234Z\r\n"},
    {"LongSpotterWrittenWholeFrequencyStillFromEight",
     {Page({kLongSpotterLine})},
     0,
     {"DX de DL9ABCDEFG:FG 14025.0  N1CALL      CQ UP 2                        1234Z"},
     "DX de DL9ABCDEFG:FG 14025.0  N1CALL      CQ UP 2                        1234Z\r\n"},
    {"CarriageReturnStaysInsideTheLine", {Page({kCrLine})}, 0, {kCrCluster}, kCrCluster + "\r\n"},
    {"DuplicateWithinOneBlock",
     {Page({kLineN0, kLineXB, kLineN0})},
     0,
     {kClusterN0, kClusterXB},
     kClusterN0 + "\r\n" + kClusterXB + "\r\n"},
    {"DifferencesOutsideTheCutsAreDuplicates",
     {Page({kLineN0, kSameCutsLine})},
     0,
     {kClusterN0},
     kClusterN0 + "\r\n"},
    {"DuplicatesAcrossTicks",
     {Page({kLineN0}), Page({kLineXB, kLineN0})},
     0,
     {kClusterN0, kClusterXB},
     kClusterN0 + "\r\n" + kClusterXB + "\r\n"},
    {"BlockOrderKept",
     {Page({kLineXB, kLineN0, kLineXA})},
     0,
     {kClusterXB, kClusterN0, kClusterXA},
     kClusterXB + "\r\n" + kClusterN0 + "\r\n" + kClusterXA + "\r\n"},
    {"FilterHoldsBackOneContinentButLogsIt",
     {Page({kLineXA, kLineN0, kLineXB})},
     kContinentEU,
     {kClusterXA, kClusterN0, kClusterXB},
     kClusterN0 + "\r\n" + kClusterXB + "\r\n"},
    {"HeldBackSpotIsRememberedAndNeverSent",
     {Page({kLineXB}), Page({kLineXB, kLineN0})},
     kContinentSA,
     {kClusterXB, kClusterN0},
     kClusterN0 + "\r\n"},
    {"BitsOutsideTheSpotterContinentLetItPass",
     {Page({kLineXB})},
     kContinentAll & ~kContinentSA,
     {kClusterXB},
     kClusterXB + "\r\n"},
    {"InvalidPagesAreNeverDuplicates",
     {"", "", Page({kLineN0})},
     0,
     {kInvalidPage, kInvalidPage, kClusterN0},
     kClusterN0 + "\r\n"},
};

INSTANTIATE_TEST_SUITE_P(Pages, PageProcessing, ::testing::ValuesIn(kPageCases),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
