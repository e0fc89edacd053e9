// How long the event loop is held while the relay runs against a bad day: a probe timer every 10 ms
// records how late it fires. A timed tool, not a Google Benchmark.
//   loop_lateness_bench [SECONDS] [http|serial]     (default 60 http)
// http:   the page server accepts and never answers.
// serial: a page of 99 new spots is served while the device on the serial line (a pty) reads
//         nothing; its queue was full before the relay started.
#include "net/curl_page_source.h"
#include "net/fetch_page.h"
#include "relay/spot_relay.h"
#include "serial/serial_output.h"
#include "support/fake_front_end.h"
#include "support/loopback_server.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace {

using testing_support::LoopbackServer;

std::string PageOf99Spots()
{
    std::string page = "<HTML><PRE>\n";
    for (int n = 0; n < 99; ++n) {
        char line[80];
        std::snprintf(line, sizeof line, "DL%dABC  %10s N%-10d CQ UP %-23d1234Z\n", n % 10, "14025.0", n, n);
        page += line;
    }
    return page + "</PRE></HTML>\n";
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const NetworkRuntime network;
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const bool serialStall = argc > 2 && std::strcmp(argv[2], "serial") == 0;

    const testing_support::TempDir config;
    const testing_support::ScopedEnv xdg("XDG_CONFIG_HOME", config.path().string());
    testing_support::PtyPair pty;
    pty.linkAsComPort(5);
    const LoopbackServer server({serialStall ? LoopbackServer::Http(200, PageOf99Spots())
                                             : LoopbackServer::Reply {{""}, {}, LoopbackServer::End::Stall}});
    const RelaySettings settings {.URL = server.url("/dxs/dx25.html?"),
                                  .Port = serialStall ? "COM5" : "None"};
    testing_support::NullFrontEnd window;
    CurlPageSource source; // the real limits: a stalled fetch is given up after 30 s
    SerialOutput serial(settings);
    SpotRelay relay(window, settings, source, {&serial});
    relay.ToggleRun();
    const std::size_t junk = serialStall ? pty.fill() : 0;

    constexpr qint64 kProbeMs = 10;
    QElapsedTimer clock;
    clock.start();
    qint64 expected = kProbeMs;
    qint64 worst = 0;
    long probes = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - expected);
        expected = now + kProbeMs;
        ++probes;
        if (now >= seconds * 1000LL) {
            QCoreApplication::quit();
        }
    });
    probe.start(kProbeMs);
    QCoreApplication::exec();

    if (serialStall) {
        std::printf("run: %d s, a page of 99 new spots, the serial device reading nothing (%zu bytes "
                    "queued before the start); %zu lines waiting at the end\n",
                    seconds, junk, serial.Waiting());
    } else {
        std::printf("run: %d s against a server that never answers (%zu fetch(es) started)\n", seconds,
                    server.requests().size());
    }
    std::printf("probe: every %lld ms, %ld firings\n", static_cast<long long>(kProbeMs), probes);
    std::printf("longest lateness of the event loop: %lld ms\n", static_cast<long long>(worst));
    return 0;
}
