#include "relay/spot_relay.h"
#include "support/fake_front_end.h"
#include "support/temp_dir.h"

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

using testing_support::NullFrontEnd;
using testing_support::NullPageSource;
std::string Padded(std::string text, std::size_t width, bool right = false)
{
    if (text.size() < width) {
        text.insert(right ? 0 : text.size(), width - text.size(), ' ');
    }
    return text.substr(0, width);
}

// Spot number `n` of an endless stream, in the page's fixed columns, spotters from every continent.
std::string SpotLine(int n)
{
    static const std::array<const char*, 16> prefixes
        = {"DL", "K", "JA", "VK", "PY", "ZS", "G", "F", "I", "W", "VE", "UA9", "LU", "EA8", "ZL", "HS"};
    static const std::array<const char*, 6> comments
        = {"CQ UP 2", "FT8 -12dB", "TNX QSO", "CW 599", "", "LOUD IN EU"};
    const std::string spotter = std::string(prefixes[static_cast<std::size_t>(n) % prefixes.size()])
        + std::to_string(n % 10) + static_cast<char>('A' + n % 26) + static_cast<char>('A' + (n / 26) % 26);
    const int kHz = 1800 + (n * 137) % 28000;
    const std::string frequency = std::to_string(kHz) + "." + std::to_string(n % 10);
    const std::string dxCall = std::string("N") + std::to_string(n % 10) + "DX" + std::to_string(n % 1000);
    const int minutes = n % 1440;
    std::string time = std::to_string(minutes / 60 * 100 + minutes % 60);
    time.insert(0, 4 - time.size(), '0');
    return Padded(spotter, 7) + " " + Padded(frequency, 10, true) + " " + Padded(dxCall, 11)
        + Padded(comments[static_cast<std::size_t>(n) % comments.size()], 30) + time + "Z";
}

// The page as served: the block opens with an empty line, then `count` spots, newest first.
std::string SpotPage(int newest, int count)
{
    std::string body = "<HTML><HEAD><TITLE>DX Summit</TITLE></HEAD><BODY>\n<PRE>\n";
    for (int n = newest; n > newest - count; --n) {
        body += SpotLine(n) + "\n";
    }
    return body + "</PRE>\n</BODY></HTML>\n";
}

// A 100-line page: the empty first line and 99 spots, so the next tick finds them all in the log.
constexpr int kSpotsPerPage = 99;

void BM_FirstTick(benchmark::State& state)
{
    const testing_support::RealCountryDir country;
    const std::string page = SpotPage(10000, kSpotsPerPage);
    NullFrontEnd window;
    NullPageSource source;
    const RelaySettings settings;
    for (auto _ : state) {
        state.PauseTiming();
        auto relay = std::make_unique<SpotRelay>(window, settings, source, std::vector<SpotOutput*> {});
        state.ResumeTiming();
        relay->ProcessSpotPage(page);
        state.PauseTiming();
        relay.reset();
        state.ResumeTiming();
    }
    state.counters["spots"] = kSpotsPerPage;
}
BENCHMARK(BM_FirstTick)->Unit(benchmark::kMillisecond);

void BM_SteadyTick(benchmark::State& state)
{
    const testing_support::RealCountryDir country;
    const std::string page = SpotPage(10000, kSpotsPerPage);
    NullFrontEnd window;
    NullPageSource source;
    const RelaySettings settings;
    SpotRelay relay(window, settings, source, {});
    relay.ProcessSpotPage(page);
    for (auto _ : state) {
        relay.ProcessSpotPage(page);
    }
    if (relay.HistoryCount() != kSpotsPerPage) {
        state.SkipWithError("the steady page was not all duplicates");
    }
}
BENCHMARK(BM_SteadyTick)->Unit(benchmark::kMicrosecond);

// An hour of ticks on a 25-spot page where three new spots arrive every tick: the log stays full.
void BM_HourOfTicks(benchmark::State& state)
{
    const testing_support::RealCountryDir country;
    NullFrontEnd window;
    NullPageSource source;
    const RelaySettings settings;
    for (auto _ : state) {
        SpotRelay relay(window, settings, source, {});
        for (int tick = 0; tick < 3600; ++tick) {
            relay.ProcessSpotPage(SpotPage(100 + 3 * tick, 25));
        }
        state.counters["log_bytes"] = static_cast<double>(relay.LogText().size());
    }
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_kB"] = static_cast<double>(usage.ru_maxrss);
}
BENCHMARK(BM_HourOfTicks)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
