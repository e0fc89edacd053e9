#include "country/country.h"
#include "country/country_file.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

using country_detail::Lookup;

const std::string& RealBytes()
{
    static const std::string bytes
        = (std::ostringstream() << std::ifstream(testing_support::kRealCountryFile, std::ios::binary).rdbuf())
              .str();
    return bytes;
}

/// Bytes this process has taken in through read system calls so far ("rchar" of /proc/self/io).
long long BytesRead()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return -1;
}

/// Bytes of the heap in use, small blocks and mapped ones.
double HeapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

/// Distinct spotter texts as the relay passes them, with their ":". Made from the real file: the
/// main prefix of every country with a digit (when it ends in a letter) and a suffix of one to
/// three letters, every fifth portable ("/P"), every seventh the prefix before a home call
/// ("EA8/DL1ABC"); then `wholeCallCount` of the whole calls it lists ("=..."), which are real
/// calls, some with "/" parts.
std::vector<std::string> DistinctSpotters(std::size_t wholeCallCount)
{
    std::vector<std::string> prefixes;
    std::vector<std::string> wholeCalls;
    std::istringstream lines(RealBytes());
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) {
            continue;
        }
        if (line[0] != ' ') {
            // A header line: "Name: CQ zone: ITU zone: continent: latitude: longitude: UTC offset: prefix:".
            std::string prefix = line.substr(0, line.rfind(':'));
            prefix = prefix.substr(prefix.find_last_of(" *") + 1);
            prefixes.push_back(prefix);
            continue;
        }
        std::istringstream aliases(line.substr(line.find_first_not_of(' ')));
        for (std::string alias; std::getline(aliases, alias, ',');) {
            if (alias[0] == '=') {
                wholeCalls.push_back(alias.substr(1, alias.find_first_of(";([<{~") - 1));
            }
        }
    }

    std::vector<std::string> spotters;
    std::set<std::string> seen;
    const auto add = [&](const std::string& spotter) {
        if (seen.insert(spotter).second) {
            spotters.push_back(spotter);
        }
    };
    for (std::size_t i = 0; i < prefixes.size(); ++i) {
        const std::string& prefix = prefixes[i];
        const std::string digit
            = std::isdigit(static_cast<unsigned char>(prefix.back())) ? "" : std::to_string(i % 10);
        const std::string suffix = std::string(1, static_cast<char>('A' + i % 26))
            + std::string(i % 3, static_cast<char>('A' + (i * 7) % 26));
        add(i % 7 == 3 ? prefix + "/DL1ABC:" : prefix + digit + suffix + (i % 5 == 4 ? "/P:" : ":"));
    }
    for (std::size_t i = 0; i < wholeCallCount; ++i) {
        add(wholeCalls[i * wholeCalls.size() / wholeCallCount] + ":");
    }
    return spotters;
}

// Every spotter a first-time one: each distinct call is resolved once, timed on its own. The
// median is the figure; a result cache could not help here.
void DistinctSpotterBench(benchmark::State& state)
{
    static const testing_support::RealCountryDir dir;
    const std::vector<std::string> spotters = DistinctSpotters(80);
    // The file is parsed before the clock runs, as the program does at start-up.
    if (!CountryFileReadable() || ContinentOfCall("DL0XYZ/QRP:") != kContinentEU) {
        state.SkipWithError("is the real country file installed?");
        return;
    }
    std::vector<double> micros;
    for ([[maybe_unused]] auto _ : state) {
        micros.clear();
        for (const std::string& spotter : spotters) {
            const auto start = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize(ContinentOfCall(spotter.c_str()));
            micros.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        }
        double total = 0;
        for (const double time : micros) {
            total += time;
        }
        state.SetIterationTime(total / 1e6);
    }
    std::sort(micros.begin(), micros.end());
    state.counters["calls"] = static_cast<double>(micros.size());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p90_us"] = micros[micros.size() * 9 / 10];
    state.counters["max_us"] = micros.back();
}
BENCHMARK(DistinctSpotterBench)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

// One spotter over and over, and the bytes of the country file read meanwhile (none while the
// file does not change).
void ContinentOfCallBench(benchmark::State& state, const char* text, int expected)
{
    static const testing_support::RealCountryDir dir;
    if (ContinentOfCall(text) != expected) {
        state.SkipWithError("unexpected continent: is the real country file installed?");
        return;
    }
    const long long before = BytesRead();
    for ([[maybe_unused]] auto _ : state) {
        benchmark::DoNotOptimize(ContinentOfCall(text));
    }
    const long long after = BytesRead();
    state.counters["file_bytes_per_call"]
        = benchmark::Counter(static_cast<double>(after - before) / static_cast<double>(state.iterations()));
}
BENCHMARK_CAPTURE(ContinentOfCallBench, spotter, "DL1ABC:", kContinentEU)->Unit(benchmark::kMicrosecond);
// Two parts of equal length: three lookups.
BENCHMARK_CAPTURE(ContinentOfCallBench, equal_parts_spotter, "KH6/DL:", kContinentOC)
    ->Unit(benchmark::kMicrosecond);

// The line-by-line scan over the file in memory: what every lookup cost before the index, less
// the reading, and what a call holding one of ",;([<{" still costs.
void LiteralScanBench(benchmark::State& state)
{
    const auto file = country_detail::ParseCountryFile(RealBytes());
    char record[kCountryRecordSize];
    for ([[maybe_unused]] auto _ : state) {
        benchmark::DoNotOptimize(FindCountryIn(*file, Lookup::Literal, "DL1ABC:", record));
    }
}
BENCHMARK(LiteralScanBench)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

void LiteralContinentBench(benchmark::State& state)
{
    const auto file = country_detail::ParseCountryFile(RealBytes());
    for ([[maybe_unused]] auto _ : state) {
        benchmark::DoNotOptimize(ContinentOfCallIn(*file, Lookup::Literal, "DL1ABC:"));
    }
}
BENCHMARK(LiteralContinentBench)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// Parsing the real file into its lines and the alias index: once per file version. The heap it
// keeps is the parsed file's memory (glibc's count of bytes in use, before and after).
void ParseRealFileBench(benchmark::State& state)
{
    for ([[maybe_unused]] auto _ : state) {
        benchmark::DoNotOptimize(country_detail::ParseCountryFile(RealBytes()));
    }
    const double before = HeapInUse();
    const auto file = country_detail::ParseCountryFile(RealBytes());
    state.counters["heap_bytes"] = HeapInUse() - before;
    state.counters["file_bytes"] = static_cast<double>(RealBytes().size());
}
BENCHMARK(ParseRealFileBench)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
