#include "headless/console_front_end.h"

#include "country/country.h"
#include "relay/curl_page_source.h"
#include "settings/settings_store.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

namespace {

constexpr int kTimerPeriodMs = 1000;
int g_signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 0;
    // Only async-signal-safe calls here: the event loop reads the pipe and quits.
    static_cast<void>(::write(g_signalPipe[1], &byte, 1));
}

/// SIGTERM and SIGINT end the event loop, from the loop itself, so everything closes in order.
class SignalQuit
{
public:
    SignalQuit()
    {
        if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            return;
        }
        m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
        struct sigaction action = {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int signal : {SIGTERM, SIGINT}) {
            sigaction(signal, &action, nullptr);
        }
    }
    ~SignalQuit()
    {
        for (const int signal : {SIGTERM, SIGINT}) {
            std::signal(signal, SIG_DFL);
        }
        m_notifier.reset();
        for (int& fd : g_signalPipe) {
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
        }
    }
    SignalQuit(const SignalQuit&) = delete;
    SignalQuit& operator=(const SignalQuit&) = delete;

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace

ConsoleFrontEnd::ConsoleFrontEnd(PageSource& source, const RelaySettings& settings, std::FILE* out,
                                 std::FILE* err)
    : m_settings(settings)
    , m_relay(*this, source, m_settings)
    , m_out(out)
    , m_err(err)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kTimerPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { m_relay.OnTimer(); });
}

void ConsoleFrontEnd::Report(const std::string& text) const
{
    std::fprintf(m_err, "%s\n", ConsoleLine(text).c_str());
    std::fflush(m_err);
}

void ConsoleFrontEnd::ShowLog(const std::string&, int, int)
{
    // The log shows its newest entry last; the console prints just that entry. An invalid-page
    // note carries its own line end.
    std::string entry = m_relay.HistoryAt(0);
    while (!entry.empty() && (entry.back() == '\n' || entry.back() == '\r')) {
        entry.pop_back();
    }
    std::fprintf(m_out, "%s\n", entry.c_str());
    std::fflush(m_out);
}

void ConsoleFrontEnd::SetRunCaption(const std::string&)
{
    // No button: the relay runs from start to signal.
}

void ConsoleFrontEnd::ShowMessage(const std::string& text)
{
    Report(text);
}

void ConsoleFrontEnd::ShowError(const std::string& text)
{
    Report("error: " + text);
}

bool ConsoleFrontEnd::SetTimer()
{
    m_timer.start();
    return m_timer.isActive();
}

void ConsoleFrontEnd::KillTimer()
{
    m_timer.stop();
}

void ConsoleFrontEnd::ShowLinkState(const std::string& port, bool lost)
{
    Report(port + (lost ? " lost" : " back"));
}

void ConsoleFrontEnd::LogNotice(const std::string& text)
{
    Report(text);
}

int RunHeadless(const std::string& settingsFile)
{
    RelaySettings settings;
    LoadSettings(settings, settingsFile);

    const SignalQuit quitOnSignal;
    CurlPageSource source;
    ConsoleFrontEnd console(source, settings, stdout, stderr);
    if (!CountryFileReadable()) {
        console.ShowMessage(CountryFileWarning());
    }
    console.Relay().ApplyClusterSettings();
    console.Relay().ToggleRun();
    if (!console.Relay().IsRunning()) {
        return 2;
    }
    QCoreApplication::exec();
    // Stop as the button would: the fetch is abandoned, the port closed with its termios restored.
    console.Relay().ToggleRun();
    return 0;
}
