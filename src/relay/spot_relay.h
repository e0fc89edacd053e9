#pragma once

#include "cluster/cluster_node.h"
#include "relay/relay_window.h"
#include "serial/serial_port.h"
#include "settings/relay_settings.h"

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

/// Newest first: index 0 is the newest entry. At most 99 entries once an insertion has returned.
using SpotHistory = std::vector<std::string>;

/// The serial settings a start derives from the stored ones.
struct LinkParameters
{
    int port = 0; ///< 0: run without a link
    bool speedKnown = false; ///< Speed is an index of the rate table
    std::uint32_t baud = 0;
    std::uint8_t byteSize = 8;
    std::uint8_t parity = 0; ///< the low byte of Parity, passed on unchanged
};

[[nodiscard]] LinkParameters DeriveLinkParameters(const RelaySettings& settings);

/// The relay core: turns fetched pages into cluster lines, keeps the spot log that is also the
/// duplicate memory, and runs the once-a-second poll cycle. Its front end (the main window or the
/// console) owns it by value and forwards its button and timer events here. It runs on one
/// thread with an event loop; the page source fetches away from it.
class SpotRelay
{
public:
    SpotRelay(RelayWindow& window, PageSource& source, const RelaySettings& settings);

    void ProcessSpotPage(const std::string& body);
    void ProcessSpotLine(std::string line);
    void AddLogLine(std::string text);

    /// The cluster node serves ClusterAddress and ClusterPort as the settings now stand (port 0
    /// turns it off); a port that cannot be served is a box, and the relay runs on. The front
    /// end calls it at start-up and when the two settings change.
    void ApplyClusterSettings();
    /// The last `count` cluster lines the filter let through, oldest first; all of them (at most
    /// 99) when there are fewer. What the node replays to "sh/dx".
    [[nodiscard]] std::vector<std::string> RecentSpots(int count) const;

    /// Run/Stop button (control 3); the Configure handler calls it too.
    void ToggleRun();
    /// Timer handler: starts fetching the page, which is processed when it arrives. A tick that
    /// comes while a fetch is in flight, or while a box of the previous page is open, is dropped.
    void OnTimer();

    [[nodiscard]] int HistoryCount() const { return static_cast<int>(m_history.size()); }
    [[nodiscard]] std::string HistoryAt(int index) const { return m_history.at(index); }
    [[nodiscard]] const std::string& LogText() const { return m_logText; }
    [[nodiscard]] bool IsRunning() const { return m_running != 0; }
    [[nodiscard]] const CSerialPort& SerialPort() const { return m_serial; }

private:
    RelayWindow& m_window;
    PageSource& m_source;
    const RelaySettings& m_settings;
    SpotHistory m_history;
    std::string m_logText;
    /// Handles what a fetch of this cycle brought: its boxes, then its page.
    void OnPage(PageResult page);
    /// Everything a cluster line goes through once its fields are cut: the duplicate test, the
    /// log, the continent filter and the outputs.
    void RelayClusterLine(const std::string& spotterField, const std::string& frequency,
                          const std::string& dxCall, const std::string& comment, const std::string& time);
    /// Writes the line and CR LF to the serial link. False when the link is lost, before or by
    /// this write: the line may not have arrived.
    bool WriteLine(const std::string& cluster);
    /// While the link is lost: opens the same port with the same settings again, and sends what
    /// waited for it.
    void Reconnect();
    /// Shows a box unless the same text was shown since the last good fetch or the last start.
    void ShowOnce(const std::string& text, bool error);

    int m_running = 0;
    bool m_inTick = false;
    bool m_fetching = false;
    std::set<std::string> m_shown;
    /// Ticks that fetch nothing: a feed is polled at most every tenth second, and a server that
    /// asked for a pause (429 or 503 with Retry-After) gets it.
    int m_quietTicks = 0;
    CSerialPort m_serial;
    LinkParameters m_link; ///< as the last start opened the link
    bool m_linkLost = false;
    /// Lines that passed the filter while the link was lost, sent when it is back: the newest 99.
    std::deque<std::string> m_waiting;
    std::deque<std::string> m_relayed; ///< the last 99 lines the filter let through
    /// The second output beside the serial line: the same lines, to the loggers on TCP.
    ClusterNode m_node;
};
