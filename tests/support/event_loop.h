#pragma once

#include <chrono>
#include <functional>

#include <QCoreApplication>
#include <QElapsedTimer>

namespace testing_support {

/// The Qt application object a test needs for timers, sockets and notifiers.
struct EventLoop
{
    int argc = 1;
    char name[8] = "quarnel";
    char* argv[2] = {name, nullptr};
    QCoreApplication app {argc, argv};
};

/// Runs the event loop until `done` holds or `limit` has passed.
inline void SpinUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(5))
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limit.count()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
}

} // namespace testing_support
