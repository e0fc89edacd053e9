#include "relay/spot_filter.h"
#include "support/temp_dir.h"

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace testing_support;

/// One spot as the filter gets it, and when it arrives.
struct Arrival
{
    std::string khz = "   14025.0";
    std::string comment = {};
    std::string call = " 3Y0J       ";
    std::string spotter = "W1AW";
    int second = 0;
};

std::vector<Arrival> OnFrequencies(std::vector<std::string> khz)
{
    std::vector<Arrival> spots;
    for (std::string& text : khz) {
        spots.push_back({.khz = std::move(text)});
    }
    return spots;
}

std::vector<Arrival> OfCalls(std::vector<std::string> calls)
{
    std::vector<Arrival> spots;
    for (std::string& call : calls) {
        spots.push_back({.call = std::move(call)});
    }
    return spots;
}

struct Row
{
    const char* name;
    RelaySettings settings;
    std::vector<Arrival> spots;
    std::string passes; ///< one sign per spot: + let through, - held back
    std::string report = {};
    friend void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }
};

// Skimmers, spotting 3Y0J on 20 m unless a row says otherwise.
const Arrival kSkimmer {.spotter = "DL1ABC-#"};
Arrival At(Arrival spot, int second)
{
    spot.second = second;
    return spot;
}

// clang-format off
const Row kRows[] = {
    {"AllOff", {}, {{}, {.khz = "abc", .spotter = "XA1AA-#"}, At(kSkimmer, 1)}, "+++"},
    // Each band from its lower edge to its upper one, both included.
    {"Band160m", {.Bands = 1}, OnFrequencies({"1799.9", "1800", "2000.0", "2000.1"}), "-++-"},
    {"Band80m", {.Bands = 2}, OnFrequencies({"3499.9", "3500", "4000", "4000.1"}), "-++-"},
    {"Band60m", {.Bands = 4}, OnFrequencies({"5249.9", "5250", "5450", "5450.1"}), "-++-"},
    {"Band40m", {.Bands = 8}, OnFrequencies({"6999.9", "7000", "7300", "7300.1"}), "-++-"},
    {"Band30m", {.Bands = 16}, OnFrequencies({"10099.9", "10100", "10150", "10150.1"}), "-++-"},
    {"Band20m", {.Bands = 32}, OnFrequencies({"13999.9", "   14000.0", "14350", "14350.1"}), "-++-"},
    {"Band17m", {.Bands = 64}, OnFrequencies({"18067.9", "18068", "18168", "18168.1"}), "-++-"},
    {"Band15m", {.Bands = 128}, OnFrequencies({"20999.9", "21000", "21450", "21450.1"}), "-++-"},
    {"Band12m", {.Bands = 256}, OnFrequencies({"24889.9", "24890", "24990", "24990.1"}), "-++-"},
    {"Band10m", {.Bands = 512}, OnFrequencies({"27999.9", "28000", "29700", "29700.1"}), "-++-"},
    {"Band6m", {.Bands = 1024}, OnFrequencies({"49999.9", "50000", "54000", "54000.1"}), "-++-"},
    {"BandVhfAndUp", {.Bands = 2048}, OnFrequencies({"143999.9", "144000", "10489540.0"}), "-++"},
    // What lies between the bands, and a field that is no number (a comma is no decimal point).
    {"BandOther", {.Bands = 4096}, OnFrequencies({"2000.1", "143999.9", "14025,0", "abc", "", "inf", "14025"}),
     "++++++-"},
    // The comment's first mode word, any case, else the frequency: CW segments with their edges.
    {"ModeCw", {.Modes = 1}, {{.comment = "cw/ssb"}, {.comment = "599 UP 2"}, {.khz = "14200", .comment = "tnx CW"},
     {.comment = "TNX ssb"}, {.khz = "14070"}, {.khz = "14070.1"}, {.khz = "1839.9"}, {.khz = "abc", .comment = "CW"},
     {.khz = "abc"}}, "+++-+-++-"},
    // Up to 3 kHz above a digital calling frequency, both ends included, even inside a CW segment.
    {"ModeDigital", {.Modes = 4}, {{.khz = "7047.5"}, {.khz = "7050.5"}, {.khz = "7050.6"}, {.khz = "  14077.0"},
     {.khz = "1840"}, {.comment = "FT8 -12dB"}, {.khz = "14074", .comment = "QRV ssb"}}, "++-+++-"},
    {"ModePhone", {.Modes = 2}, {{.khz = "14200"}, {.khz = "abc"}, {.khz = "14074"}, {.comment = "AM"}}, "++-+"},
    // Whole calls, any case, blanks and commas between patterns; `?` is one character, not one byte.
    {"WatchList", {.WatchList = "VP8*, ?y0j"}, OfCalls({" VP8LP      ", "vp8", "XVP8A", "3y0j", "3Y0JA",
     "33Y0J", "Y0J", "3Y0", "\xC3\x84Y0J"}), "++-+----+"},
    {"WatchListOfSeparatorsOnly", {.WatchList = " , "}, {{}}, "+"},
    // The window runs from the spot let through, per call and band; only skimmers are held back.
    {"SkimmerRepeat", {.SkimmerRepeat = 10}, {At(kSkimmer, 0), At(kSkimmer, 300), At(kSkimmer, 599),
     {.khz = "7025", .spotter = "OH6BG-#", .second = 599}, At(kSkimmer, 600), {.second = 601},
     {.call = "3y0j", .spotter = "OH6BG-#", .second = 1100}, At(kSkimmer, 1201)}, "+--+++-+"},
    // Every filter at once: a spot held back by one is not remembered as let through.
    {"AllTogether", {.DxccFilter = 1, .Bands = 32, .Modes = 1, .WatchList = "3Y0J VP8*", .SkimmerRepeat = 10},
     {{.spotter = "XA1AA-#"}, At(kSkimmer, 1), At(kSkimmer, 2), {.khz = "7025"}, {.khz = "14074", .call = "VP8LP"},
     {.khz = "14200", .comment = "CW", .call = "VP8LP"}, {.call = "K1ABC"}, {.call = "VP8LP", .spotter = "XA1AA"}},
     "-+---+--"},
    {"TopOfEveryRange", {.Bands = 8191, .Modes = 7, .SkimmerRepeat = 1440}, {At(kSkimmer, 0), At(kSkimmer, 86399),
     At(kSkimmer, 86400), {.khz = "abc"}}, "+-++"},
    {"OutOfRangeIsOff", {.Bands = 9000, .Modes = -1, .SkimmerRepeat = 1441}, {{.khz = "abc"}, At(kSkimmer, 0),
     At(kSkimmer, 1)}, "+++", "Bands 9000 is out of range (0 to 8191), treated as off; Modes -1 is out of range "
     "(0 to 7), treated as off; SkimmerRepeat 1441 is out of range (0 to 1440), treated as off"},
};
// clang-format on

/// The filter in a temporary current directory with a cty.dat of one invented country: XA calls
/// are in Europe, every other call on no continent.
struct FilterRig : ::testing::TestWithParam<Row>
{
    TempDir dir;
    ScopedCurrentDir cwd {dir.path()};
    std::filesystem::path cty = dir.write("cty.dat", "Northland:                  14:  27:  EU:\n    XA;\n");
    RelaySettings settings;
    SpotFilter filter {settings};
};

TEST_P(FilterRig, LetsThroughWhatEveryFilterLetsThrough)
{
    const Row& row = GetParam();
    settings = row.settings;
    std::string passes;
    for (const Arrival& in : row.spots) {
        const Spot spot {in.spotter, in.khz, in.call, in.comment, "1234"};
        passes
            += filter.Passes(spot, std::chrono::steady_clock::time_point() + std::chrono::seconds(in.second))
            ? '+'
            : '-';
    }
    EXPECT_EQ(passes, row.passes);
    EXPECT_EQ(FilterSettingsReport(settings), row.report);
}

INSTANTIATE_TEST_SUITE_P(Rows, FilterRig, ::testing::ValuesIn(kRows), ::testing::PrintToStringParamName());

} // namespace
