#pragma once

#include "relay/relay_window.h"
#include "relay/spot_relay.h"
#include "settings/relay_settings.h"

#include <cstdio>
#include <string>

#include <QObject>
#include <QTimer>

/// The relay without a window, for a board beside the radio: what the window would show goes to
/// the console instead. Each new log entry is one line on `out`; each message, and the state of
/// the serial link, is one line on `err` with a UTC time stamp. Nothing ever waits for an answer.
class ConsoleFrontEnd : public QObject, public RelayWindow
{
public:
    ConsoleFrontEnd(PageSource& source, const RelaySettings& settings, std::FILE* out, std::FILE* err);

    [[nodiscard]] SpotRelay& Relay() { return m_relay; }
    /// One line on `err`, time-stamped, the lines of a multi-line text joined.
    void Report(const std::string& text) const;

    void ShowLog(const std::string& text, int selStart, int selEnd) override;
    void SetRunCaption(const std::string& caption) override;
    void ShowMessage(const std::string& text) override;
    void ShowError(const std::string& text) override;
    bool SetTimer() override;
    void KillTimer() override;
    void ShowLinkState(const std::string& port, bool lost) override;
    void LogNotice(const std::string& text) override;

private:
    RelaySettings m_settings;
    SpotRelay m_relay;
    QTimer m_timer;
    std::FILE* m_out;
    std::FILE* m_err;
};

/// Runs the relay headless until SIGTERM or SIGINT: settings from `settingsFile` (never written),
/// started at once. Returns 0 after a signal, 2 when the relay cannot start (its message on
/// stderr). Needs a QCoreApplication.
int RunHeadless(const std::string& settingsFile);
