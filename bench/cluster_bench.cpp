#include "cluster/cluster_node.h"
#include "relay/spot_relay.h"
#include "support/fake_front_end.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>
#include <QTcpServer>
#include <benchmark/benchmark.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLoggers = 64;
constexpr int kBurst = 25;
const Spot kSpot {"DL1ABC", "   14025.0", " JA1XYZ     ", "CQ UP 2                       ", "1234"};

long ResidentKiB()
{
    long pages = 0;
    long resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE) / 1024;
}

// Bytes in use on the main thread's heap, where the node allocates (the reader thread has its own).
long HeapKiB()
{
    return static_cast<long>(mallinfo2().uordblks / 1024);
}

double ThreadCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// 64 loggers on plain sockets, read by a thread of their own so that the node's thread does
// nothing but serve. Each counts the line feeds it has received.
class Loggers
{
public:
    explicit Loggers(quint16 port)
    {
        const sockaddr_in node {AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        for (int i = 0; i < kLoggers; ++i) {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            if (connect(fd, reinterpret_cast<const sockaddr*>(&node), sizeof node) != 0) {
                throw std::runtime_error(std::string("cannot connect to the node: ") + strerror(errno));
            }
            const std::string login = "LOG" + std::to_string(i) + "\r\n";
            if (send(fd, login.data(), login.size(), 0) != static_cast<ssize_t>(login.size())) {
                throw std::runtime_error("cannot log in");
            }
            m_polls.push_back({fd, POLLIN, 0});
            // The node accepts on its event loop; its listen queue holds fewer than 64.
            QCoreApplication::processEvents();
        }
        m_lines.resize(kLoggers);
        m_reader = std::thread([this] { Read(); });
    }

    ~Loggers()
    {
        m_stop = true;
        m_reader.join();
        for (const pollfd& logger : m_polls) {
            close(logger.fd);
        }
    }

    Loggers(const Loggers&) = delete;
    Loggers& operator=(const Loggers&) = delete;

    /// From now on every logger is to receive `lines` line feeds in all.
    void Expect(long lines) { m_target = lines; }

    /// Waits until every logger has what Expect() said; the time the last of it arrived, or
    /// nothing after 10 s. `serve` runs the event loop meanwhile.
    std::optional<Clock::time_point> Wait(bool serve)
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
        while (m_done.load() < m_target.load()) {
            if (Clock::now() > deadline) {
                return std::nullopt;
            }
            if (serve) {
                QCoreApplication::processEvents();
            }
        }
        return m_lastByte.load();
    }

private:
    void Read()
    {
        std::vector<char> buffer(65536);
        while (!m_stop) {
            poll(m_polls.data(), m_polls.size(), 10);
            for (std::size_t i = 0; i < m_polls.size(); ++i) {
                if ((m_polls[i].revents & POLLIN) == 0) {
                    continue;
                }
                const ssize_t got = recv(m_polls[i].fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
                for (ssize_t j = 0; j < got; ++j) {
                    m_lines[i] += buffer[static_cast<std::size_t>(j)] == '\n' ? 1 : 0;
                }
            }
            const long target = m_target.load();
            if (m_done.load() < target && *std::min_element(m_lines.begin(), m_lines.end()) >= target) {
                m_lastByte = Clock::now();
                m_done = target;
            }
        }
    }

    std::vector<pollfd> m_polls;
    std::vector<long> m_lines; ///< the reader's own
    std::atomic<long> m_target {0};
    std::atomic<long> m_done {0};
    std::atomic<Clock::time_point> m_lastByte {};
    std::atomic<bool> m_stop {false};
    std::thread m_reader;
};

// 64 logged-in loggers, a burst of 25 spots per iteration. Manual time: from the first Send
// to the return of the last, when every byte has been handed to the sockets (the wait for the
// loggers runs no event loop, so nothing can have been left for it). Counters: the node thread's
// CPU for the burst, the time until the last logger has read its last byte, the node's heap for
// its 64 loggers and the process's resident memory.
void BM_Burst25To64Loggers(benchmark::State& state)
{
    const RelaySettings settings;
    ClusterNode node(settings);
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    if (const std::string error = node.Listen("127.0.0.1", port); !error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    const long heapBefore = HeapKiB();
    Loggers loggers(port);
    long lines = 2; // the greeting and the prompt
    loggers.Expect(lines);
    if (!loggers.Wait(true) || node.ClientCount() != kLoggers) {
        state.SkipWithError("the loggers did not log in");
        return;
    }
    const long heap = HeapKiB() - heapBefore;
    const long resident = ResidentKiB();

    double cpu = 0;
    double lastByte = 0;
    for (auto _ : state) {
        lines += kBurst;
        loggers.Expect(lines);
        const double cpuStart = ThreadCpuSeconds();
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < kBurst; ++i) {
            node.Send(kSpot);
        }
        const Clock::time_point handedOver = Clock::now();
        cpu += ThreadCpuSeconds() - cpuStart;
        const auto last = loggers.Wait(false);
        if (!last) {
            state.SkipWithError("a logger is missing spots");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(handedOver - start).count());
        lastByte += std::chrono::duration<double>(*last - start).count();
    }
    const auto perBurst
        = [&state](double total) { return total / static_cast<double>(state.iterations()) * 1e6; };
    state.counters["cpu_us"] = perBurst(cpu);
    state.counters["last_byte_read_us"] = perBurst(lastByte);
    state.counters["heap_64_loggers_kib"] = static_cast<double>(heap);
    state.counters["rss_kib"] = static_cast<double>(resident);
}
BENCHMARK(BM_Burst25To64Loggers)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(200)
    ->Repetitions(5);

// The same burst as it arrives: a page of 25 new spots handed to the relay core (duplicate test,
// log, continent lookup in Debian's cty.dat, no serial port), whose node serves 64 loggers. Manual
// time: from the page's arrival to the return of ProcessSpotPage, when the last byte of the last
// spot has been handed to the last logger's socket. Counter: the CPU for it.
void BM_Page25NewSpotsTo64Loggers(benchmark::State& state)
{
    const testing_support::RealCountryDir country;
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    RelaySettings settings {.Port = "None", .ClusterPort = probe.serverPort()};
    probe.close();
    testing_support::NullFrontEnd window;
    testing_support::NullPageSource pages;
    ClusterNode node(settings);
    SpotRelay relay(window, settings, pages, {&node});
    relay.ApplySettings();
    Loggers loggers(static_cast<quint16>(settings.ClusterPort));
    long lines = 2;
    loggers.Expect(lines);
    if (!loggers.Wait(true)) {
        state.SkipWithError("the loggers did not log in");
        return;
    }
    static const char* const prefixes[] = {"DL", "K", "JA", "VK", "PY", "G", "F", "W", "VE", "ZL"};
    int spot = 0;
    double cpu = 0;
    for (auto _ : state) {
        std::string page = "<PRE>\n";
        for (int i = 0; i < kBurst; ++i, ++spot) {
            char line[80];
            std::snprintf(line, sizeof line, "%-8s%10s %-11s%-30s%04dZ\n",
                          (std::string(prefixes[spot % 10]) + std::to_string(spot % 9 + 1) + "ABC").c_str(),
                          "14025.0", ("N" + std::to_string(spot)).c_str(), "CQ UP 2", spot % 1440);
            page += line;
        }
        page += "</PRE>";
        lines += kBurst;
        loggers.Expect(lines);
        const double cpuStart = ThreadCpuSeconds();
        const Clock::time_point start = Clock::now();
        relay.ProcessSpotPage(page);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        cpu += ThreadCpuSeconds() - cpuStart;
        if (!loggers.Wait(false)) {
            state.SkipWithError("a logger is missing spots");
            break;
        }
    }
    state.counters["cpu_us"] = cpu / static_cast<double>(state.iterations()) * 1e6;
}
BENCHMARK(BM_Page25NewSpotsTo64Loggers)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(200)
    ->Repetitions(5);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
