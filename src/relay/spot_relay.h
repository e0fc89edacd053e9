#pragma once

#include "relay/relay_front_end.h"
#include "relay/spot_filter.h"
#include "settings/relay_settings.h"
#include "spot/spot.h"
#include "spot/spot_output.h"
#include "spot/spot_source.h"

#include <chrono>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include <QTimer>

/// Newest first: index 0 is the newest entry. At most 99 entries once an insertion has returned.
using SpotHistory = std::vector<std::string>;

/// The relay core, the middle of the road: sources -> core -> outputs. It takes spots from the
/// page it polls once a second (or from a source that pushes them), drops the duplicates, logs
/// every new spot, and hands those the filters let through to every output. It owns its clock
/// and knows no device, socket or window: all of them are handed to it. It runs on one thread
/// with an event loop; the page source fetches away from it.
class SpotRelay
{
public:
    /// The one-second poll.
    static constexpr std::chrono::milliseconds kTickPeriod {1000};

    SpotRelay(RelayFrontEnd& frontEnd, const RelaySettings& settings, PageSource& pages,
              std::vector<SpotOutput*> outputs, PushSource* pushSource = nullptr);
    /// Abandons the fetch in flight; the outputs close themselves.
    ~SpotRelay();
    SpotRelay(const SpotRelay&) = delete;
    SpotRelay& operator=(const SpotRelay&) = delete;

    void ProcessSpotPage(const std::string& body);
    void ProcessSpotLine(std::string line);
    void AddLogLine(std::string text);

    /// Run/Stop button (control 3).
    void ToggleRun();
    /// The configuration opens: a running relay stops until Resume, and what waits for a device
    /// or comes from a live source meanwhile is kept.
    void Suspend();
    /// The configuration closed: starts again what Suspend stopped, as the settings now stand.
    void Resume();
    /// The settings were loaded or changed: each output takes them; their messages are boxes.
    void ApplySettings();
    /// Timer handler: starts fetching the page, which is processed when it arrives. A tick that
    /// comes while a fetch is in flight, or inside the handling of a page, is dropped.
    void OnTimer();

    [[nodiscard]] int HistoryCount() const { return static_cast<int>(m_history.size()); }
    [[nodiscard]] std::string HistoryAt(int index) const { return m_history.at(index); }
    [[nodiscard]] const std::string& LogText() const { return m_logText; }
    [[nodiscard]] bool IsRunning() const { return m_running != 0; }

private:
    enum class Body
    {
        Invalid,
        Page,
        Feed
    };

    /// The page processing of one fetched body; what kind of body it was.
    Body ProcessBody(const std::string& body);
    /// Handles what a fetch of this cycle brought: its boxes, its page, the pause until the next.
    void OnPage(FetchResult page);
    /// The road of one spot: the duplicate test, the log, the filters, the outputs.
    void RelaySpot(const Spot& spot);
    /// Whether `cluster` is a spot seen already: in the log, or in the last fetch that gave spots
    /// or the one being handled (a page or feed can list more spots than the log holds).
    [[nodiscard]] bool IsDuplicate(const std::string& cluster) const;
    /// One entry for a page without spots, and one for a whole run of them.
    void NoteInvalidPage();
    /// Why a fetch gave no spots, on the console once for a run of the same reason.
    void NoteFailure(const std::string& reason);
    /// The ticks to let pass before the next fetch of the page that gave `body`.
    [[nodiscard]] int PollPause(Body body);
    /// Opens every output and arms the clock; false, with everything closed again, when an
    /// output cannot open.
    bool Start();
    /// Stops the clock and the fetch; `keepWaiting` as for SpotOutput::Close.
    void Halt(bool keepWaiting);
    /// Shows a box unless the same text was shown since the last good fetch or the last start.
    void ShowOnce(const std::string& text, bool error);

    RelayFrontEnd& m_frontEnd;
    const RelaySettings& m_settings;
    PageSource& m_pages;
    std::vector<SpotOutput*> m_outputs;
    PushSource* m_pushSource;
    SpotFilter m_filter;
    SpotHistory m_history;
    std::string m_logText;
    QTimer m_timer;
    int m_running = 0;
    bool m_suspended = false;
    bool m_inTick = false;
    bool m_fetching = false;
    std::set<std::string> m_shown;
    /// Ticks that fetch nothing: a feed is polled at most every tenth second, less often while it
    /// fails, and a server that asked for a pause (429 or 503 with Retry-After) gets it.
    int m_quietTicks = 0;
    std::string m_feedUrl; ///< the URL that gave a feed: polled gently until the URL changes
    int m_feedFailures = 0; ///< fetches of m_feedUrl in a row that gave no spots
    std::string m_lastFailure; ///< the reason of the last failed fetch, until one gives spots
    /// The cluster lines of the last fetch that gave a page or a feed, and of the one being handled.
    std::unordered_set<std::string> m_lastFetch;
    std::unordered_set<std::string> m_thisFetch;
    bool m_inFetch = false;
};
