#include "relay/spot_filter.h"
#include "support/temp_dir.h"

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

// A skimmer network's stream: spotters from every continent, a third of them skimmers, a few
// hundred DX calls spread over the HF bands, comments with and without a mode word.
std::vector<Spot> SpotStream(int count)
{
    static const std::array<const char*, 8> spotters
        = {"DL1ABC", "K3LR", "JA1XYZ", "VK2DEF", "PY2ABC", "ZS6XX", "G4ABC", "UA9XYZ"};
    static const std::array<const char*, 5> comments
        = {"CW 12 dB 25 WPM CQ", "FT8 -12dB", "", "UP 2", "TNX QSO 599"};
    static const std::array<int, 8> kHz = {1822, 3525, 7012, 7074, 10136, 14025, 14200, 21074};
    std::vector<Spot> spots;
    for (int n = 0; n < count; ++n) {
        const auto at = [n](const auto& list, int step) {
            return list[static_cast<std::size_t>(n * step) % list.size()];
        };
        const std::string spotter = std::string(at(spotters, 1)) + (n % 3 == 0 ? "-#" : "");
        const std::string dx = (n % 7 == 0 ? "VP8" : "N") + std::to_string(n % 300);
        spots.push_back({spotter, std::to_string(at(kHz, 3)) + ".0", " " + dx, at(comments, 1), "1234"});
    }
    return spots;
}

void FilterDecision(benchmark::State& state, const RelaySettings& settings)
{
    const testing_support::RealCountryDir country;
    const std::vector<Spot> spots = SpotStream(4096);
    SpotFilter filter(settings);
    // 600 spots a minute, a busy skimmer network.
    auto now = std::chrono::steady_clock::now();
    std::size_t next = 0;
    std::int64_t passed = 0;
    for (auto _ : state) {
        const bool passes = filter.Passes(spots[next], now);
        benchmark::DoNotOptimize(passes);
        passed += passes ? 1 : 0;
        next = (next + 1) % spots.size();
        now += std::chrono::milliseconds(100);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["passed_%"]
        = 100.0 * static_cast<double>(passed) / static_cast<double>(state.iterations());
}

void BM_FilterDecisionAllOff(benchmark::State& state)
{
    FilterDecision(state, RelaySettings {});
}
BENCHMARK(BM_FilterDecisionAllOff);

// Every filter at work: Europe held back, 40 and 20 m, CW and digital, four watch patterns, repeats
// for 10 minutes.
void BM_FilterDecisionAllOn(benchmark::State& state)
{
    FilterDecision(state,
                   RelaySettings {.DxccFilter = 1,
                                  .Bands = 8 | 32,
                                  .Modes = 1 | 4,
                                  .WatchList = "VP8* N1?? 3Y0J, N2*",
                                  .SkimmerRepeat = 10});
}
BENCHMARK(BM_FilterDecisionAllOn);

} // namespace

BENCHMARK_MAIN();
