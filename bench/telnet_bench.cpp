// A live cluster as the source: how soon a spot line that reaches the telnet source's socket is
// on the serial line (a pty) and at a logger on the cluster node, and what a burst of 500 spot
// lines in one write costs the event loop. A timed tool, not a Google Benchmark.
//   telnet_bench [SPOTS]     (default 1000, one every 3 ms)
// The node is a plain socket in a thread of its own, so the event loop sleeps when a line
// arrives, as in the running program; a second thread reads the pty and the logger.
#include "cluster/cluster_node.h"
#include "relay/spot_relay.h"
#include "serial/serial_output.h"
#include "support/fake_front_end.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"
#include "telnet/telnet_source.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTimer>

namespace {

using Clock = std::chrono::steady_clock;
using testing_support::PtyPair;

constexpr int kBurst = 500;

double ThreadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// A skimmer's spot line; its number in the comment makes every one new and tells the readers
// which it is.
std::string SpotLine(int n)
{
    char line[96];
    std::snprintf(line, sizeof line, "DX de EA5WU-#:   14025.0  DL%dABC  CW 12 dB n=%d  %02d%02dZ\r\n",
                  n % 10, n, n / 60 % 24, n % 60);
    return line;
}

int ListenOnLoopback(quint16& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr {
        .sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd, 1) != 0
        || getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    port = ntohs(addr.sin_port);
    return fd;
}

bool WriteAll(int fd, const std::string& bytes)
{
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// When the last byte of each numbered spot line arrived at one reader.
struct Arrivals
{
    explicit Arrivals(int lines)
        : at(static_cast<std::size_t>(lines))
    {
    }
    void Take(const char* data, std::size_t size)
    {
        const Clock::time_point now = Clock::now();
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] != '\n') {
                pending += data[i];
                continue;
            }
            const std::size_t mark = pending.find("n=");
            if (pending.starts_with("DX de ") && mark != std::string::npos) {
                const auto n = static_cast<std::size_t>(std::atoi(pending.c_str() + mark + 2));
                if (n < at.size()) {
                    at[n] = now;
                    ++count;
                    last = static_cast<int>(n);
                }
            }
            pending.clear();
        }
    }
    std::vector<Clock::time_point> at;
    std::atomic<int> count {0};
    std::atomic<int> last {-1}; ///< the number of the latest line
    std::string pending;
};

struct Figures
{
    double median;
    double p90;
    double p99;
    double worst;
};

Figures FiguresOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const auto at = [&values](double q) {
        return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
    };
    return {at(0.5), at(0.9), at(0.99), values.back()};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int spots = argc > 1 ? std::max(10, std::atoi(argv[1])) : 1000;
    const int total = spots + kBurst;

    const testing_support::TempDir dir;
    const testing_support::ScopedEnv xdg("XDG_CONFIG_HOME", dir.path().string());
    // The real country file, so that each spot pays its continent lookup.
    std::error_code ignored;
    std::filesystem::copy_file(testing_support::kRealCountryFile, dir.path() / "cty.dat", ignored);
    const testing_support::ScopedCurrentDir cwd(dir.path());
    PtyPair pty;
    pty.linkAsComPort(5);

    quint16 originPort = 0;
    const int listener = ListenOnLoopback(originPort);
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const RelaySettings settings {.URL = "telnet://127.0.0.1:" + std::to_string(originPort),
                                  .Port = "COM5",
                                  .ClusterPort = probe.serverPort(),
                                  .Call = "N0CALL"};
    probe.close();
    testing_support::NullFrontEnd window;
    testing_support::NullPageSource pages;
    SerialOutput serial(settings);
    ClusterNode node(settings);
    TelnetSource source;
    SpotRelay relay(window, settings, pages, {&serial, &node}, &source);
    QStringList notices; // lines the serial output dropped, as it counts them
    QObject::connect(&serial, &SerialOutput::Notice, [&notices](const QString& text) { notices << text; });
    relay.ApplySettings();
    relay.ToggleRun();

    // A logger on the node.
    const int logger = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in nodeAddress {
        AF_INET, htons(static_cast<quint16>(settings.ClusterPort)), {htonl(INADDR_LOOPBACK)}, {}};
    if (connect(logger, reinterpret_cast<const sockaddr*>(&nodeAddress), sizeof nodeAddress) != 0
        || !WriteAll(logger, "B1\r\n")) {
        std::perror("logger");
        return 1;
    }

    Arrivals onPty(total);
    Arrivals atLogger(total);
    std::atomic<bool> stop {false};
    std::thread reader([&] {
        pollfd fds[2] = {{pty.master(), POLLIN, 0}, {logger, POLLIN, 0}};
        Arrivals* arrivals[2] = {&onPty, &atLogger};
        char buffer[65536];
        while (!stop) {
            poll(fds, 2, 10);
            for (int i = 0; i < 2; ++i) {
                if ((fds[i].revents & POLLIN) != 0) {
                    const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                    if (n > 0) {
                        arrivals[i]->Take(buffer, static_cast<std::size_t>(n));
                    }
                }
            }
        }
    });

    std::vector<Clock::time_point> sent(static_cast<std::size_t>(total));
    std::atomic<bool> burstAsked {false};
    std::atomic<bool> burstGo {false};
    std::atomic<bool> failed {false};
    const auto allIn = [&](int count) { return onPty.count >= count && atLogger.count >= count; };
    // The serial output keeps the newest 99 lines that wait for the device: a burst may lose
    // older ones on the pty, never the last.
    const auto burstIn = [&] { return onPty.last == total - 1 && atLogger.count >= total; };
    std::thread origin([&] {
        const int client = accept(listener, nullptr, nullptr);
        // Each line leaves at once: with Nagle's algorithm a line sent within the receiver's
        // delayed ACK (up to 40 ms) of the one before would wait for that ACK.
        const int on = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        char call[64];
        if (client < 0 || !WriteAll(client, "login: ") || recv(client, call, sizeof call, 0) <= 0) {
            failed = true;
            return;
        }
        // The source's logger on the node has logged in too by the time the first spot comes.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (int n = 0; n < spots && !failed; ++n) {
            const std::string line = SpotLine(n);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            sent[static_cast<std::size_t>(n)] = Clock::now();
            failed = !WriteAll(client, line);
        }
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
        while (!allIn(spots) && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::string burst;
        for (int n = spots; n < total; ++n) {
            burst += SpotLine(n);
        }
        burstAsked = true;
        while (!burstGo) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        sent[static_cast<std::size_t>(spots)] = Clock::now();
        failed = failed || !WriteAll(client, burst);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        close(client);
    });

    // The event loop of the program: a probe every millisecond records how late it fires while
    // the burst is handled.
    QElapsedTimer clock;
    clock.start();
    qint64 expected = 1;
    qint64 worstLateness = 0;
    bool inBurst = false;
    double cpuBefore = 0;
    double burstCpu = 0;
    QTimer probeTimer;
    probeTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probeTimer, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (inBurst) {
            worstLateness = std::max(worstLateness, now - expected);
        }
        expected = now + 1;
        if (burstAsked && !inBurst && !burstGo) {
            inBurst = true;
            cpuBefore = ThreadCpuMs();
            burstGo = true;
        } else if (inBurst && burstIn()) {
            burstCpu = ThreadCpuMs() - cpuBefore;
            QCoreApplication::quit();
        }
        if (failed || clock.elapsed() > 60'000) {
            QCoreApplication::quit();
        }
    });
    probeTimer.start(1);
    QCoreApplication::exec();
    stop = true;
    origin.join();
    reader.join();
    close(logger);
    close(listener);
    if (failed || !allIn(spots) || !burstIn()) {
        std::printf("incomplete: %d of %d on the pty, %d at the logger\n", onPty.count.load(), total,
                    atLogger.count.load());
        return 1;
    }

    // The first spot parses cty.dat on its way (about 2 ms): it is shown apart.
    std::vector<double> toPty;
    std::vector<double> toLogger;
    for (std::size_t n = 1; n < static_cast<std::size_t>(spots); ++n) {
        toPty.push_back(Ms(onPty.at[n] - sent[n]));
        toLogger.push_back(Ms(atLogger.at[n] - sent[n]));
    }
    std::printf(
        "first spot line written to the source's socket -> last byte on the pty %.3f ms, at the logger "
        "%.3f ms\n",
        Ms(onPty.at[0] - sent[0]), Ms(atLogger.at[0] - sent[0]));
    for (const auto& [what, values] : {std::pair("the pty", &toPty), std::pair("a node logger", &toLogger)}) {
        const Figures f = FiguresOf(*values);
        std::printf(
            "next %d spot lines, one every 3 ms -> last byte on %s: median %.3f ms, p90 %.3f ms, p99 %.3f "
            "ms, worst %.3f ms\n",
            spots - 1, what, f.median, f.p90, f.p99, f.worst);
    }
    const Clock::time_point burstSent = sent[static_cast<std::size_t>(spots)];
    std::printf(
        "burst of %d spot lines in one write: last byte on the pty after %.2f ms, at the logger after "
        "%.2f ms; event-loop thread CPU %.2f ms; longest lateness of a 1 ms probe %lld ms\n",
        kBurst, Ms(onPty.at.back() - burstSent), Ms(atLogger.at.back() - burstSent), burstCpu,
        static_cast<long long>(worstLateness));
    std::printf("burst lines on the pty: %d of %d; at the logger: %d of %d\n", onPty.count.load() - spots,
                kBurst, atLogger.count.load() - spots, kBurst);
    for (const QString& notice : notices) {
        std::printf("serial output: %s\n", qPrintable(notice));
    }
    return 0;
}
