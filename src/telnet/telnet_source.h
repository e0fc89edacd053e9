#pragma once

#include "spot/spot_source.h"
#include "telnet/telnet_lines.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QTcpSocket;

/// How the telnet source keeps its link up. Tests shorten the times.
struct TelnetTiming
{
    /// The wait after a lost or refused connection; each further failure doubles it.
    std::chrono::milliseconds firstRetry {5'000};
    std::chrono::milliseconds longestRetry {300'000};
    /// A connection that lasted this long starts the waits at `firstRetry` again.
    std::chrono::milliseconds steadyAfter {60'000};
    /// The call is sent anyway when no prompt asked for it this long after connecting.
    std::chrono::milliseconds loginAfter {10'000};
    /// Nothing received for this long: the connection is dropped and made again.
    std::chrono::milliseconds silenceLimit {600'000};
};

/// A live source: a DX-cluster node or a skimmer network over telnet, `telnet://host[:port]`
/// (port 23 when none is given). It logs in with the station's call when a prompt asks for it
/// ("login: ", "Please enter your call: ") or after `loginAfter` without one, and hands the spot
/// of every "DX de" line to the relay the moment the line arrives; everything else the node sends
/// is read and dropped. A lost, refused or silent connection is made again after 5 s, 10 s, 20 s,
/// ... at most 5 minutes. Runs on the event loop of the thread that owns it, with no thread of
/// its own; nothing it does waits on the network.
class TelnetSource : public QObject, public PushSource
{
    Q_OBJECT

public:
    /// A line longer than this is cut; the rest of it is dropped.
    static constexpr std::size_t kLineBytes = 1024;
    static constexpr int kDefaultPort = 23;
    /// Start's message when there is no call to log in with.
    static constexpr const char* kNoCallMessage
        = "A cluster node needs your call sign to log in: please configure";

    explicit TelnetSource(TelnetTiming timing = {}, QObject* parent = nullptr);
    ~TelnetSource() override;
    TelnetSource(const TelnetSource&) = delete;
    TelnetSource& operator=(const TelnetSource&) = delete;

    /// Whether `url` begins with "telnet://", in any case.
    [[nodiscard]] bool Serves(const std::string& url) const override;
    /// Starts connecting to `url` and returns "" at once; ::kBadUrlMessage or kNoCallMessage, with
    /// no connection made, when the URL or the call cannot serve.
    [[nodiscard]] std::string Start(const std::string& url, const std::string& call,
                                    SpotHandler handler) override;
    /// Closes the connection and stops trying; the link's state is cleared.
    void Stop() override;
    [[nodiscard]] bool RunsFor(const std::string& url, const std::string& call) const override;

signals:
    /// The state of the link ("dxc.example.org:7300"): "connecting", "lost, next try in 10 s", or
    /// "" once logged in and receiving, and after Stop.
    void StateChanged(const QString& link, const QString& state);
    /// A line for the console: connects, logins, losses and the next try.
    void Notice(const QString& text);
    /// A message for a box: a host name that does not resolve, at most once per Start.
    void Problem(const QString& text);

private:
    void Connect();
    void OnConnected();
    void OnReadyRead();
    void OnError(QAbstractSocket::SocketError error);
    void SendCall(const QString& why);
    /// Drops the connection and arms the next try.
    void Lose(const QString& why);
    /// Closes the socket and its timers quietly.
    void CloseSocket();
    void SetState(const QString& state);

    TelnetTiming m_timing;
    bool m_running = false;
    std::string m_url; ///< as Start was given it
    std::string m_call; ///< as Start was given it
    QByteArray m_login; ///< the call and CR LF
    QString m_host;
    quint16 m_port = 0;
    QString m_link; ///< "host:port" for the state and the console
    SpotHandler m_handler;
    /// One per connection, a child of this source; deleted later, as it may be in its own signal.
    QTcpSocket* m_socket = nullptr;
    std::optional<TelnetLines> m_lines;
    bool m_callSent = false;
    QElapsedTimer m_connectedFor;
    std::chrono::milliseconds m_retryDelay {};
    QTimer m_retryTimer;
    QTimer m_loginTimer;
    QTimer m_silenceTimer;
    QString m_state;
    bool m_problemShown = false;
    /// Counts starts and stops: a handler that stopped the source ends the reading of its lines.
    std::uint64_t m_session = 0;
};
