#include "quit_on_signal.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

int g_pipe[2] = {-1, -1};
volatile std::sig_atomic_t g_signalled = 0;

void OnSignal(int)
{
    // Only async-signal-safe work here: the event loop reads the pipe, or the flag, and quits.
    g_signalled = 1;
    if (g_pipe[1] >= 0) {
        const char byte = 0;
        static_cast<void>(::write(g_pipe[1], &byte, 1));
    }
}

} // namespace

QuitOnSignal::QuitOnSignal(std::function<void()> quit)
    : m_quit(std::move(quit))
{
    g_signalled = 0;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
            char bytes[16];
            while (::read(g_pipe[0], bytes, sizeof bytes) > 0) { }
            m_quit();
        });
    } else {
        g_pipe[0] = g_pipe[1] = -1;
        m_poll.setInterval(100);
        QObject::connect(&m_poll, &QTimer::timeout, [this] {
            if (g_signalled != 0) {
                m_poll.stop();
                m_quit();
            }
        });
        m_poll.start();
    }
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT}) {
        sigaction(signal, &action, nullptr);
    }
}

QuitOnSignal::~QuitOnSignal()
{
    for (const int signal : {SIGTERM, SIGINT}) {
        std::signal(signal, SIG_DFL);
    }
    m_notifier.reset();
    for (int& fd : g_pipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}
