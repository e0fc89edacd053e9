#pragma once

#include <functional>
#include <memory>

#include <QSocketNotifier>
#include <QTimer>

/// SIGTERM and SIGINT end the program from its event loop, so that everything closes in order: the
/// fetch abandoned, the serial port given back its termios, the node's clients closed.
class QuitOnSignal
{
public:
    /// `quit` runs on the event loop's thread when one of the signals arrives.
    explicit QuitOnSignal(std::function<void()> quit);
    ~QuitOnSignal();
    QuitOnSignal(const QuitOnSignal&) = delete;
    QuitOnSignal& operator=(const QuitOnSignal&) = delete;

private:
    std::function<void()> m_quit;
    std::unique_ptr<QSocketNotifier> m_notifier;
    /// Without a pipe the loop looks at the signal's flag a few times a second instead.
    QTimer m_poll;
};
