#include "country/country.h"
#include "relay/spot_relay.h"
#include "support/event_loop.h"
#include "support/fake_front_end.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <chrono>
#include <numeric>
#include <optional>
#include <ranges>
#include <string_view>

#include <gtest/gtest.h>

namespace {

using namespace testing_support;
using Lines = std::vector<std::string>;

// XA1AA belongs to Northland in Europe; N0CALL to no country of the rig's cty.dat, so it is sent
// whatever continents the filter holds back.
const std::string kN0 = "N0CALL     14025.0 N1CALL     CQ UP 2                       1234Z";
const std::string kDxN0 = "DX de N0CALL:     14025.0  N1CALL      CQ UP 2                        1234Z";
const std::string kXA = "XA1AA       7012.5 N2ABC      TEST                          0915Z";
const std::string kDxXA = "DX de XA1AA:       7012.5  N2ABC       TEST                           0915Z";
const std::string kRunning = "[Stop] running";
// The same spot as kN0 in each feed format; a malformed record follows it.
const std::string kDxSummit
    = R"([{"de_call":"N0CALL","dx_call":"N1CALL","frequency":14025.0,"info":"CQ UP 2",)"
      R"("time":"2024-01-09T12:34:56","id":2},{"de_call":"N0CALL","dx_call":"N1CALL"}])";
const std::string kSpothole
    = R"([{"de_call":"N0CALL","dx_call":"N1CALL","freq":14025000,"comment":"CQ UP 2",)"
      R"("time":1704803640},{"de_call":"N 0","dx_call":"N1CALL","freq":7e3,"time":0}])";
const std::string kHamqth = "N0CALL^14025.0^N1CALL^CQ UP 2^1234 2025-05-27^^^NA^20M^United States^291\n"
                            "N0CALL^abc^N1CALL^^1234 2025-05-27^^^NA^20M^United States^291\n";

const auto Join = [](const Lines& lines, const std::string& end, const std::string& start = {}) {
    return std::accumulate(lines.begin(), lines.end(), start, [&](auto t, auto& l) { return t + l + end; });
};

const auto Page = [](const Lines& lines) { return Join(lines, "\n", "<HTML><PRE>\n") + "</PRE></HTML>\n"; };
// A DX Summit feed of `count` spots, newest first as the service lists them, and their cluster
// lines, oldest first: more spots than the log holds.
const auto BigFeed = [](int count) {
    std::string body = "[";
    Lines lines;
    for (int n = count - 1; n >= 0; --n) {
        const std::string mm = std::to_string(100 + n / 60).substr(1),
                          ss = std::to_string(100 + n % 60).substr(1);
        body += R"({"de_call":"N0CALL","dx_call":"N)" + std::to_string(n)
            + R"(","frequency":14025.0,"info":"CQ",)" + R"("time":"2024-01-09T10:)" + mm + ":" + ss + "\"}"
            + (n > 0 ? "," : "]");
        const std::string dx = "N" + std::to_string(n);
        lines.insert(lines.begin(),
                     "DX de N0CALL:     14025.0  " + dx + std::string(11 - dx.size(), ' ') + " CQ"
                         + std::string(28, ' ') + " 10" + mm + "Z");
    }
    return std::pair(body, lines);
};
const auto [kFeed150, kFeed150Lines] = BigFeed(150);
const std::string kFail = "?Unable to locate url";

const auto Outage = [](const std::string& page, std::size_t ticks) {
    Lines pages(ticks + 2, "garbage");
    pages.front() = pages.back() = page;
    return pages;
};

struct Row
{
    const char* name;
    /// R: a press of Run/Stop; T: a timer tick; S and E: the configuration opens and closes.
    std::string steps;
    /// What each fetch brings in turn: a page, "?" and the fetch's message with no page, "!" and
    /// the error of a session that could not be created, or "~" and a busy server's Retry-After.
    Lines pages;
    Lines log; ///< oldest first
    std::optional<Lines> sent = {}; ///< what each output got; the logged spots when unset
    std::string outcome = kRunning; ///< the boxes shown, then the caption and the state
    RelaySettings settings = {.DxccFilter = 63}; ///< every continent held back
    std::size_t fetches = 0; ///< how many ticks fetched, when not 0
    std::string openError = {}; ///< what the second output answers when it is opened
    std::string closes = {}; ///< how the outputs were closed: "c" a stop, "k" for the configuration
    friend void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }
};

// clang-format off
const Row kRows[] = {
    {"WorkedExample", "RT", {Page({kN0})}, {kDxN0}},
    {"LowerCaseMarkers", "RT", {"<pre>\n" + kN0 + "\n</pre>"}, {"Received unvalid page\r\n"}, Lines {}},
    {"ClosingMarkerMissing", "RT", {"<PRE>\n" + kN0 + "\n"}, {"Received unvalid page\r\n"}, Lines {}},
    {"ClosingMarkerFirstGivesNothing", "RT", {"</PRE>" + Page({kN0})}, {}},
    {"OnlyTheFirstBlock", "RT", {Page({kN0}) + Page({kXA})}, {kDxN0}},
    {"LastLineIntoMarkerDropped", "RT", {"<PRE>\n" + kN0 + "\n" + kXA + "</PRE>"}, {kDxN0}},
    {"LineWithoutSpaceSkipped", "RT", {Page({"", "N0CALL", kN0})}, {kDxN0}},
    {"ShortLine", "RT", {Page({"N0CALL     7012.5 N1CALL     TEST"})},
     {"DX de N0CALL:     7012.5  N1CALL     T EST Z"}},
    // The worked example with a space first, then with a spotter of ten characters.
    {"LeadingSpace", "RT", {Page({" " + kN0.substr(1)})}, {"DX de :        " + kDxN0.substr(15)}},
    {"LongCall", "RT", {Page({"DL9ABCDEFG " + kN0.substr(11)})}, {"DX de DL9ABCDEFG:FG " + kDxN0.substr(18)}},
    // The log outlives a stop: a spot seen before it is still a duplicate afterwards.
    {"SameSpotTwiceThenAfterARestart", "RTRRT", {Page({kN0, kN0})}, {kDxN0}, {}, kRunning, {}, 0, {}, "c"},
    {"HeldBackLoggedButNeverSent", "RTT", {Page({kXA}), Page({kXA, kN0})}, {kDxXA, kDxN0}, Lines {kDxN0}},
    // The filter lets through what no continent holds back, and every output gets it.
    {"FilterOff", "RT", {Page({kXA, kN0})}, {kDxXA, kDxN0}, {}, kRunning, {}},
    {"OutputThatCannotOpen", "RT", {Page({kN0})}, {}, {}, "COM9: busy; [&Run] stopped", {}, 0, "COM9: busy", "c"},
    // The feeds of today give the page's cluster line, byte for byte; a malformed record is skipped.
    {"DxSummitJsonLikeThePage", "RT", {kDxSummit}, {kDxN0}},
    {"SpotholeJsonLikeThePage", "RT", {kSpothole}, {kDxN0}},
    {"HamqthCaretLinesLikeThePage", "RT", {kHamqth}, {kDxN0}},
    {"TruncatedJsonIsNoFeed", "RT", {kDxSummit.substr(0, 60)}, {"Received unvalid page\r\n"}, Lines {}},
    // A feed is fetched every tenth tick, a busy server asking for 3 s gets them, a page every tick.
    {"FeedEveryTenthTick", "R" + std::string(12, 'T'), {kDxSummit}, {kDxN0}, {}, kRunning, {}, 2},
    // More spots than the log holds, listed twice: each goes out once, the log keeps the newest 99.
    {"FeedOf150SentOnce", "R" + std::string(11, 'T'), {kFeed150}, Lines(kFeed150Lines.end() - 99, kFeed150Lines.end()),
     kFeed150Lines, kRunning, {}, 2},
    // A feed that fails is asked 20, 40, 80 s later, and every 10 s again once it answers.
    {"FailingFeedBacksOff", "R" + std::string(161, 'T'), {kDxSummit, kFail, kFail, kFail, kDxSummit},
     {kDxN0, "Received unvalid page\r\n"}, Lines {kDxN0}, "Unable to locate url; " + kRunning, {}, 6},
    {"RetryAfterHonoured", "RTTTTT", {"~3", Page({kN0})}, {"Received unvalid page\r\n", kDxN0}, Lines {kDxN0},
     "Unable to locate url; " + kRunning, {}, 3},
    {"StopClosesTheOutputs", "RRT", {Page({kN0})}, {}, {}, "[Run] stopped", {}, 0, {}, "c"},
    // The configuration stops the relay while it is open, keeping what waits, and starts it again.
    {"ConfigurationKeepsWhatWaits", "RSE", {Page({kN0})}, {}, {}, kRunning, {}, 0, {}, "k"},
    {"ConfigurationWhileStopped", "SE", {Page({kN0})}, {}, {}, "[&Run] stopped"},
    // Each failed tick shows its box; the tick that the open box delivers meanwhile is dropped.
    {"SessionErrors", "RTTT", {"!Lost", "!", "!" + std::string(600, 'e')}, {}, {},
     "error: Lost; error: Internal application error.; error: " + std::string(511, 'e') + "; " + kRunning},
    // A cause shows its box once, and again only after a good page; an outage is one log entry.
    {"OneBoxPerCause", "RTTTTT", {"?Unable to locate url", "?Unable to locate url", "?Unable to locate url",
     Page({kN0}), "?Unable to locate url"}, {"Received unvalid page\r\n", kDxN0, "Received unvalid page\r\n"},
     Lines {kDxN0}, "Unable to locate url; Unable to locate url; " + kRunning},
    // 150 failed ticks, then the same page twice: the spot was sent before the outage, and only then.
    {"LongOutageResendsNothing", "R" + std::string(153, 'T'), Outage(Page({kN0}), 150),
     {kDxN0, "Received unvalid page\r\n"}, Lines {kDxN0}},
};
// clang-format on

/// The relay core with two recording outputs, in a temporary current directory with a cty.dat of
/// one invented country.
struct RelayRig : ::testing::TestWithParam<Row>
{
    EventLoop loop; // the relay's clock
    TempDir dir;
    ScopedCurrentDir cwd {dir.path()};
    std::filesystem::path cty = dir.write("cty.dat", "Northland:                  14:  27:  EU:\n    XA;\n");
    FakeFrontEnd window;
    FakePageSource source;
    RecordingOutput serial, node;
    RelaySettings settings;
    SpotRelay relay {window, settings, source, {&serial, &node}};
};

TEST_P(RelayRig, LogsSendsAndRuns)
{
    const Row& row = GetParam();
    settings = row.settings;
    node.openError = row.openError;
    source.results.clear();
    for (const std::string& page : row.pages) {
        const std::string rest = page.empty() ? "" : page.substr(1);
        source.results.push_back(page.starts_with('!') ? FetchResult {.error = rest, .sessionFailed = true}
                                     : page.starts_with('?') ? FetchResult {.message = rest}
                                     : page.starts_with('~')
                                     ? FetchResult {.message = "Unable to locate url",
                                                    .retryAfter = std::chrono::seconds(std::stoi(rest))}
                                     : FetchResult {.body = page});
    }
    source.results.resize(std::max<std::size_t>(source.results.size(), 1));
    window.whileBoxOpen = [this] { window.boxes.size() < 3 && relay.IsRunning() ? relay.OnTimer() : void(); };
    for (const char step : row.steps) {
        step == 'R'       ? relay.ToggleRun()
            : step == 'T' ? relay.OnTimer()
            : step == 'S' ? relay.Suspend()
            : step == 'E' ? relay.Resume()
                          : void();
    }
    EXPECT_EQ(window.logText, Join(row.log, "\r\n"));
    const Lines sent = row.sent.value_or(row.log);
    EXPECT_EQ(std::pair(serial.lines, node.lines), std::pair(sent, sent));
    EXPECT_EQ(row.outcome,
              Join(window.boxes, "; ") + "[" + window.runCaption
                  + (relay.IsRunning() ? "] running" : "] stopped"));
    EXPECT_EQ(row.fetches ? source.urls.size() : 0u, row.fetches);
    EXPECT_EQ(serial.closes, row.closes);
}

INSTANTIATE_TEST_SUITE_P(Rows, RelayRig, ::testing::ValuesIn(kRows), ::testing::PrintToStringParamName());

// Why a fetch brought no spots goes to the console, once for a run of the same reason; the log
// keeps its one entry.
TEST_F(RelayRig, FailedFetchesNamedOnTheConsole)
{
    settings.URL = "http://127.0.0.1/x?";
    source.results = {{.message = "Unable to locate url"},
                      {.message = "Unable to locate url"},
                      {.error = "Operation timed out: no whole answer within 60000 milliseconds"},
                      {.body = "<HTML>"},
                      {.body = Page({kN0})},
                      {.body = "<HTML>"}};
    relay.ToggleRun();
    for (int tick = 0; tick < 6; ++tick) {
        relay.OnTimer();
    }
    const std::string from = "No spots from http://127.0.0.1/x?: ";
    EXPECT_EQ(window.notices,
              (Lines {from + "Unable to locate url",
                      from + "Operation timed out: no whole answer within 60000 milliseconds",
                      from + "the answer holds no <PRE> block and no spot feed",
                      from + "the answer holds no <PRE> block and no spot feed"}));
    EXPECT_EQ(window.logText,
              Join({"Received unvalid page\r\n", kDxN0, "Received unvalid page\r\n"}, "\r\n"));
}

TEST_F(RelayRig, SpotLogKeepsTheNewest99WithTheLastCarriageReturnSelected)
{
    std::ranges::for_each(std::views::iota(0, 100), [this](int i) { relay.AddLogLine(std::to_string(i)); });
    const int length = static_cast<int>(window.logText.size());
    EXPECT_EQ(std::tuple(relay.HistoryCount(), relay.HistoryAt(98), window.selection),
              std::tuple(99, "1", std::pair(length - 2, length - 1)));
}

} // namespace
