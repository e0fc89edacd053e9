#include "relay_rig.h"

#include <fstream>
#include <optional>

namespace {

using namespace relay_test;

struct PageCase
{
    const char* name;
    Lines pages; ///< one per tick
    Lines log; ///< oldest first
    std::optional<Lines> sent = {}; ///< every logged line when unset
    int filter = 0;
};

using PageProcessing = ::testing::TestWithParam<PageCase>;

TEST_P(PageProcessing, LogsAndSends)
{
    RelayRig rig;
    rig.settings.DxccFilter = GetParam().filter;
    rig.source.bodies = GetParam().pages;
    rig.Start();
    rig.Ticks(static_cast<int>(GetParam().pages.size()));
    EXPECT_EQ(rig.Log(), GetParam().log);
    EXPECT_EQ(rig.Sent(), Wire(GetParam().sent.value_or(GetParam().log)));
}

const std::string kDxLong = "DX de DL9ABCDEFG:FG 14025.0  N1CALL      CQ UP 2                        1234Z";
const std::string kDxBlank = "DX de :           14025.0  N1CALL      CQ UP 2                        1234Z";
const std::string kDxShort = "DX de N0CALL:     7012.5  N1CALL     T EST Z";
const std::string kDxCr = "DX de N0CALL:     14025.0  N1CALL      CQ\rUP 2                        1234Z";
// Differs from kN0 only outside the columns that are cut out.
const std::string kSameCuts = "N0CALL Q   14025.0 N1CALL     CQ UP 2                       1234Q and more";

const PageCase kPageCases[] = {
    {"WorkedExample", {Page({kN0})}, {kDxN0}},
    {"ShortLineClippedToItsLength", {Page({"N0CALL     7012.5 N1CALL     TEST"})}, {kDxShort}},
    {"LowerCaseMarkers", {"<pre>\n" + kN0 + "\n</pre>"}, {kInvalidPage}, Lines {}},
    {"NoClosingMarker", {"<PRE>\n" + kN0 + "\n"}, {kInvalidPage}, Lines {}},
    {"EmptyBody", {""}, {kInvalidPage}, Lines {}},
    {"ClosingMarkerFirst", {"</PRE>\n" + kN0 + "\n<PRE>\n" + kXA + "\n</PRE>"}, {}},
    {"EmptyBlock", {"<PRE></PRE>"}, {}},
    {"OnlyTheFirstBlock", {Page({kN0}) + Page({kXB})}, {kDxN0}},
    {"LastLineWithoutLineFeedDropped", {"<PRE>\n" + kN0 + "\n" + kXB + "</PRE>"}, {kDxN0}},
    {"BlockWithoutLeadingLineFeed", {"<PRE>" + kN0 + "\n</PRE>"}, {kDxN0}},
    {"EmptyLinesAndLinesWithoutSpaceSkipped", {Page({"", "NOSPACE", kN0, ""})}, {kDxN0}},
    {"LeadingSpaceEmptySpotterPasses", {Page({" " + kN0.substr(1)})}, {kDxBlank}, {}, kContinentAll},
    {"LongSpotterFrequencyStillFromEight", {Page({"DL9ABCDEFG " + kN0.substr(11)})}, {kDxLong}},
    {"CarriageReturnStaysInTheLine", {Page({kN0.substr(0, 32) + "\r" + kN0.substr(33)})}, {kDxCr}},
    {"DuplicateWithinOneBlock", {Page({kN0, kXB, kN0})}, {kDxN0, kDxXB}},
    {"DifferencesOutsideTheCutsAreDuplicates", {Page({kN0, kSameCuts})}, {kDxN0}},
    {"DuplicatesAcrossTicks", {Page({kN0}), Page({kXB, kN0})}, {kDxN0, kDxXB}},
    {"BlockOrderKept", {Page({kXB, kN0, kXA})}, {kDxXB, kDxN0, kDxXA}},
    {"FilterHoldsBackEurope", {Page({kXA, kN0, kXB})}, {kDxXA, kDxN0, kDxXB}, {{kDxN0, kDxXB}}, kContinentEU},
    {"HeldBackNeverSentLater", {Page({kXB}), Page({kXB, kN0})}, {kDxXB, kDxN0}, {{kDxN0}}, kContinentSA},
    {"OtherContinentBitsLetItPass", {Page({kXB})}, {kDxXB}, {}, kContinentAll & ~kContinentSA},
    {"InvalidPagesAreNeverDuplicates", {"", "", Page({kN0})}, {kInvalidPage, kInvalidPage, kDxN0}, {{kDxN0}}},
};

INSTANTIATE_TEST_SUITE_P(Pages, PageProcessing, ::testing::ValuesIn(kPageCases), kRowName);

TEST(SpotLog, WholeTextOldestFirstWithTheLastCarriageReturnSelected)
{
    RelayRig rig;
    rig.relay.AddLogLine("spot");
    rig.relay.ProcessSpotPage("no block here");
    const std::string text = "spot\r\nReceived unvalid page\r\n\r\n";
    const int end = static_cast<int>(text.size());
    EXPECT_EQ(std::tie(rig.relay.LogText(), rig.window.logText, rig.window.selStart, rig.window.selEnd),
              std::tuple(text, text, end - 2, end - 1));
}

TEST(SpotLog, BlockOfMoreThanNinetyNineSpotsComesBackWhole)
{
    RelayRig rig;
    Lines lines(100, kN0);
    for (int i = 0; i < 100; ++i) {
        lines[static_cast<std::size_t>(i)].replace(22, 3, std::to_string(100 + i)); // N1C100 ... N1C199
    }
    rig.relay.ProcessSpotPage(Page(lines));
    rig.relay.ProcessSpotPage(Page(lines));
    // Logging the forgotten first line pushes out the next one, so every line is new again.
    EXPECT_EQ(rig.window.showLogCalls, 200);
    EXPECT_EQ(rig.Log().front().substr(27, 6), "N1C101");
}

TEST(RelayFaults, SerialDeviceDisappearsAndComesBack)
{
    RelayRig rig;
    rig.source.bodies = {Page({kN0}), Page({kN0, kXB}), Page({kN0, kXB, kXA})};
    rig.Start();
    rig.Ticks(1);
    EXPECT_EQ(rig.Sent(), Wire({kDxN0}));
    rig.pty->closeMaster();
    rig.Ticks(1);
    EXPECT_TRUE(rig.relay.IsRunning());

    // A new device under the same name; Stop and Run take it up and keep the log.
    rig.pty = std::make_unique<testing_support::PtyPair>();
    rig.pty->linkAsComPort(7);
    rig.relay.ToggleRun();
    rig.Start();
    rig.Ticks(1);
    EXPECT_EQ(rig.Sent(), Wire({kDxXA}));
    EXPECT_EQ(rig.Log(), (Lines {kDxN0, kDxXB, kDxXA}));
    EXPECT_TRUE(rig.window.messages.empty());
}

TEST(RelayFaults, WebServerDownForTwoMinutesThenBack)
{
    RelayRig rig;
    rig.source.bodies = {Page({kN0, kXB})};
    rig.source.bodies.insert(rig.source.bodies.end(), 120, "Failed to connect to 127.0.0.1 port 8080");
    rig.source.bodies.push_back(Page({kN0, kXB}));
    rig.Start();
    // The log holds 99 entries: 98 failures leave the newest spot, the 99th removes it.
    rig.Ticks(99);
    EXPECT_EQ(rig.Log().front(), kDxXB);
    rig.Ticks(22);
    EXPECT_EQ(rig.Log(), Lines(99, kInvalidPage));
    rig.Ticks(1);
    EXPECT_EQ(rig.Sent(), Wire({kDxN0, kDxXB, kDxN0, kDxXB}));
}

TEST(RelayFaults, CountryFileReplacedWhileRunningCountsFromTheNextSpot)
{
    RelayRig rig;
    const std::string laterXB = "XB1BB      21074.0 JA1XYZ     FT8 -12dB                     1003Z";
    rig.settings.DxccFilter = kContinentEU;
    rig.source.bodies = {Page({kXB}), Page({kXB, laterXB})};
    rig.Start();
    rig.Ticks(1);
    std::string moved = kCountryFile; // Southland moves to Europe
    moved.replace(moved.find("  SA:"), 5, "  EU:");
    std::ofstream(rig.dir.path() / "cty.dat", std::ios::binary | std::ios::trunc) << moved;
    rig.Ticks(1);
    EXPECT_EQ(rig.Log().size(), 2u);
    EXPECT_EQ(rig.Sent(), Wire({kDxXB}));
}

} // namespace
