#include "country/country.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

namespace {

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

/// Debian's country file as cty.dat in a temporary directory made the current one, as the program
/// finds it in its working directory.
class RealCountryDir
{
public:
    RealCountryDir()
        : m_current(Prepare(m_dir))
    {
    }

private:
    static const std::filesystem::path& Prepare(const testing_support::TempDir& dir)
    {
        std::filesystem::copy_file(testing_support::kRealCountryFile, dir.path() / "cty.dat");
        return dir.path();
    }

    testing_support::TempDir m_dir;
    testing_support::ScopedCurrentDir m_current;
};

void ContinentOfCallBench(benchmark::State& state, const char* text, int expected)
{
    static const RealCountryDir dir;
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
    state.counters["country_file_bytes"]
        = benchmark::Counter(static_cast<double>(std::filesystem::file_size("cty.dat")));
}

void FindCountryBench(benchmark::State& state, const char* call)
{
    static const RealCountryDir dir;
    char record[kCountryRecordSize];
    const long long before = BytesRead();
    for ([[maybe_unused]] auto _ : state) {
        benchmark::DoNotOptimize(FindCountry(call, record));
    }
    const long long after = BytesRead();
    state.counters["file_bytes_per_call"]
        = benchmark::Counter(static_cast<double>(after - before) / static_cast<double>(state.iterations()));
}

// Spotter texts as the relay passes them, with their ":"; the ":" rules out a whole-call match, so
// the first lookup reads the whole file.
BENCHMARK_CAPTURE(ContinentOfCallBench, spotter, "DL1ABC:", kContinentEU)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(ContinentOfCallBench, portable_spotter, "DL1ABC/P:", 0)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);
// Two parts of equal length: three lookups.
BENCHMARK_CAPTURE(ContinentOfCallBench, equal_parts_spotter, "KH6/DL:", kContinentOC)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);
// One lookup, for the cost of reading the file once.
BENCHMARK_CAPTURE(FindCountryBench, one_lookup, "DL1ABC:")
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
