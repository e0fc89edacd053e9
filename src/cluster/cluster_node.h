#pragma once

#include "settings/relay_settings.h"
#include "spot/spot_output.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

/// How much the node takes from its clients. Tests use small values.
struct ClusterLimits
{
    qint64 sendQueueBytes = 64 * 1024; ///< a client with more waiting to be sent is disconnected
    int maxClients = 64; ///< connections beyond this are refused once none waits at the login prompt
    /// Connections at the login prompt: a new one beyond this closes the one that has waited longest,
    /// so that connections that never log in cannot keep loggers out.
    int maxWaiting = 16;
    std::chrono::milliseconds loginTimeout {5 * 60'000};
    std::size_t lineBytes = 1024; ///< longer input lines are cut
};

/// A DX-cluster node on TCP, an output of the relay: loggers connect, log in with their call and
/// receive every spot the relay lets through from then on, as a node's "DX de" line (NodeSpotLine)
/// and "\r\n". "sh/dx [n]" lists the last spots sent, "help" the commands; no command but "bye"
/// disconnects. It serves ClusterAddress and ClusterPort of the settings, whether the relay runs
/// or not. Runs on the event loop of the thread that owns it; no call waits on a client, so a slow
/// or stuck logger delays nobody.
class ClusterNode : public QObject, public SpotOutput
{
    Q_OBJECT

public:
    /// The call the node gives itself in its greeting and prompts.
    static constexpr const char* kNodeCall = "QUARNEL-1";
    /// The spots the node keeps for "sh/dx".
    static constexpr std::size_t kKeptSpots = 99;

    explicit ClusterNode(const RelaySettings& settings, ClusterLimits limits = {}, QObject* parent = nullptr);
    ~ClusterNode() override;
    ClusterNode(const ClusterNode&) = delete;
    ClusterNode& operator=(const ClusterNode&) = delete;

    /// Serves the settings' address and port when they differ from those served now: a new
    /// listen drops every logger. "" or one message naming the address, the port and the reason.
    [[nodiscard]] std::string Apply() override;
    /// Keeps the spot for "sh/dx", queues its line for every logged-in client and hands it to
    /// its socket now.
    void Send(const Spot& spot) override;
    /// Closes a running listener and its clients, then listens on `address` (an IPv4 or IPv6
    /// address; "::" serves both) and `port`. Port 0 leaves the node off. Returns "" or one
    /// message naming the address, the port and the reason.
    [[nodiscard]] std::string Listen(const std::string& address, int port);
    /// Stops listening and closes every client.
    void Shut();
    /// The clients connected, logged in or not.
    [[nodiscard]] int ClientCount() const { return static_cast<int>(m_clients.size()); }

signals:
    /// A line for the console log: connects, logins, disconnects, clients dropped or refused.
    void Notice(const QString& text);

private:
    struct Client;

    void OnNewConnection();
    void OnReadyRead(std::uint64_t id);
    void Login(std::uint64_t id, Client& client, const std::string& line);
    void Command(std::uint64_t id, Client& client, const std::string& line);
    /// The answer to "sh/dx" with `argument` as its count: the kept spots, newest first. False
    /// when the client is gone.
    [[nodiscard]] bool ShowDx(std::uint64_t id, const std::string& argument);
    /// Makes room for a new connection at the login prompt: closes the one that has waited
    /// longest when maxWaiting wait, or when maxClients are connected and one of them waits.
    void MakeRoomForLogin();
    /// Queues `bytes` for the client as one write: loggers take each read for one message, so a
    /// line goes alone. False when the client is gone, dropped now for a full queue or because
    /// its socket failed.
    bool Send(std::uint64_t id, std::string_view bytes);
    /// Closes the client at once, then tells the console why.
    void Drop(std::uint64_t id, const QString& why);
    /// Tells the client `text`, closes it once that is sent, then tells the console `why`.
    void CloseClient(std::uint64_t id, std::string_view text, const QString& why);
    /// The client, no longer among the clients; null when it is not there.
    [[nodiscard]] std::unique_ptr<Client> Take(std::uint64_t id);
    /// Sends the goodbye text, then closes once the socket has sent what it holds.
    void SayGoodbye(QTcpSocket* socket, std::string_view text);
    [[nodiscard]] Client* Find(std::uint64_t id) const;
    /// "<call> de QUARNEL-1 <d-Mon-yyyy> <HHMM>Z >" and "\r\n", in UTC.
    [[nodiscard]] static std::string PromptLine(const std::string& call);

    const RelaySettings& m_settings;
    ClusterLimits m_limits;
    /// What Apply served last: it listens anew only when these change.
    std::optional<std::pair<std::string, int>> m_served;
    /// A spot sent and when, for "sh/dx".
    struct SentSpot
    {
        Spot spot;
        std::time_t sent;
    };
    std::deque<SentSpot> m_spots; ///< oldest first
    QTcpServer m_server;
    // By a number never used twice: after anything that may have closed a client (a write, a
    // Notice), its handler looks it up again instead of holding on to it.
    std::map<std::uint64_t, std::unique_ptr<Client>> m_clients;
    std::uint64_t m_nextId = 1;
};
