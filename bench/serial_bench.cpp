#include "serial/serial_port.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

#include <atomic>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

#include <benchmark/benchmark.h>

namespace {

const std::string kClusterLine
    = "DX de N0CALL:     14025.0  N1CALL       CW 599 strong signal          1234Z";
constexpr int kPort = 9;

// An open link into a pty whose other side a thread keeps empty, so no write ever waits for room.
class DrainedLink
{
public:
    DrainedLink()
    {
        m_pty.linkAsComPort(kPort);
        m_open = m_link.Open(kPort, 19200, 8, 0);
        m_reader = std::thread([this] { drain(); });
    }
    ~DrainedLink()
    {
        m_stop = true;
        m_reader.join();
    }
    DrainedLink(const DrainedLink&) = delete;
    DrainedLink& operator=(const DrainedLink&) = delete;

    [[nodiscard]] bool open() const { return m_open; }
    CSerialPort& link() { return m_link; }

private:
    void drain()
    {
        char buffer[4096];
        while (!m_stop) {
            pollfd pfd {m_pty.master(), POLLIN, 0};
            if (poll(&pfd, 1, 20) > 0 && (pfd.revents & POLLIN) != 0) {
                [[maybe_unused]] const ssize_t n = read(m_pty.master(), buffer, sizeof buffer);
            }
        }
    }

    testing_support::TempDir m_config;
    testing_support::ScopedEnv m_xdg {"XDG_CONFIG_HOME", m_config.path().string()};
    testing_support::PtyPair m_pty;
    CSerialPort m_link;
    bool m_open = false;
    std::atomic<bool> m_stop {false};
    std::thread m_reader;
};

void WriteLine(CSerialPort& link)
{
    benchmark::DoNotOptimize(link.WriteBytes(kClusterLine.data(), static_cast<int>(kClusterLine.size())));
    benchmark::DoNotOptimize(link.WriteBytes("\r\n", 2));
}

// One cluster line and its line end, as the relay sends every spot that passes the filter.
void BM_ClusterLine(benchmark::State& state)
{
    DrainedLink target;
    if (!target.open()) {
        state.SkipWithError("cannot open the pty as a COM port");
        return;
    }
    for (auto _ : state) {
        WriteLine(target.link());
    }
    const auto bytes = static_cast<double>(state.iterations() * (kClusterLine.size() + 2));
    state.counters["per_byte"]
        = benchmark::Counter(bytes, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_ClusterLine);

// A page with 25 new spots handed to the line in one tick.
void BM_Burst25Lines(benchmark::State& state)
{
    DrainedLink target;
    if (!target.open()) {
        state.SkipWithError("cannot open the pty as a COM port");
        return;
    }
    for (auto _ : state) {
        for (int i = 0; i < 25; ++i) {
            WriteLine(target.link());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 25 * (kClusterLine.size() + 2)));
}
BENCHMARK(BM_Burst25Lines)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
