// How long the event loop is held while the relay polls a server that accepts and never answers:
// a probe timer every 10 ms records how late it fires. A timed tool, not a Google Benchmark.
//   loop_lateness_bench [SECONDS]     (default 60)
#include "relay/curl_page_source.h"
#include "relay/spot_relay.h"
#include "support/fake_window.h"
#include "support/loopback_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace {

/// A front end without a screen: the relay's timer is a QTimer, everything else is ignored.
class TimerOnlyWindow : public testing_support::NullWindow
{
public:
    explicit TimerOnlyWindow(SpotRelay*& relay)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1000);
        QObject::connect(&m_timer, &QTimer::timeout, [&relay] { relay->OnTimer(); });
    }
    bool SetTimer() override { return m_timer.start(), true; }
    void KillTimer() override { m_timer.stop(); }

private:
    QTimer m_timer;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    using testing_support::LoopbackServer;
    const LoopbackServer stalling({{{""}, {}, LoopbackServer::End::Stall}});

    SpotRelay* relay = nullptr;
    TimerOnlyWindow window(relay);
    CurlPageSource source; // the real limits: a stalled fetch is given up after 30 s
    const RelaySettings settings {.URL = stalling.url("/dxs/dx25.html?")};
    SpotRelay core(window, source, settings);
    relay = &core;
    core.ToggleRun();

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

    std::printf("run: %d s against a server that never answers (%zu fetch(es) started)\n", seconds,
                stalling.requests().size());
    std::printf("probe: every %lld ms, %ld firings\n", static_cast<long long>(kProbeMs), probes);
    std::printf("longest lateness of the event loop: %lld ms\n", static_cast<long long>(worst));
    return 0;
}
