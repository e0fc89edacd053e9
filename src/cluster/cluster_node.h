#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QObject>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

/// How much the node takes from its clients. Tests use small values.
struct ClusterLimits
{
    qint64 sendQueueBytes = 64 * 1024; ///< a client with more waiting to be sent is disconnected
    int maxClients = 64; ///< connections beyond this are refused
    std::chrono::milliseconds loginTimeout {60'000};
    std::size_t lineBytes = 1024; ///< longer input lines are cut
};

/// A DX-cluster node on TCP: loggers connect, log in with their call and receive every spot the
/// relay sends from then on, as the cluster line and "\r\n". Runs on the event loop of the
/// thread that owns it; no call waits on a client, so a slow or stuck logger delays nobody.
class ClusterNode : public QObject
{
    Q_OBJECT

public:
    /// The last `count` cluster lines of the spot log, oldest first; all of them when it holds
    /// fewer (`count` is what the logger asked for).
    using RecentSpots = std::function<std::vector<std::string>(int count)>;

    /// The call the node gives itself in its greeting and prompts.
    static constexpr const char* kNodeCall = "QUARNEL-1";

    explicit ClusterNode(RecentSpots recentSpots, ClusterLimits limits = {}, QObject* parent = nullptr);
    ~ClusterNode() override;
    ClusterNode(const ClusterNode&) = delete;
    ClusterNode& operator=(const ClusterNode&) = delete;

    /// Closes a running listener and its clients, then listens on `address` (an IPv4 or IPv6
    /// address; "::" serves both) and `port`. Port 0 leaves the node off. Returns "" or one
    /// message naming the address, the port and the reason.
    [[nodiscard]] std::string Listen(const std::string& address, int port);
    /// Stops listening and closes every client.
    void Close();
    /// Queues `clusterLine` and "\r\n" for every logged-in client and hands it to its socket now.
    void SendSpot(const std::string& clusterLine);
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
    /// Queues `bytes` for the client as one write: loggers take each read for one message, so a
    /// line goes alone. False when the client is gone, dropped now for a full queue or because
    /// its socket failed.
    bool Send(std::uint64_t id, std::string_view bytes);
    /// Closes the client at once, then tells the console why.
    void Drop(std::uint64_t id, const QString& why);
    /// Sends the goodbye text, then closes once the socket has sent what it holds.
    void SayGoodbye(QTcpSocket* socket, std::string_view text);
    [[nodiscard]] Client* Find(std::uint64_t id) const;
    /// "<call> de QUARNEL-1 <d-Mon-yyyy> <HHMM>Z >" and "\r\n", in UTC.
    [[nodiscard]] static std::string PromptLine(const std::string& call);

    RecentSpots m_recentSpots;
    ClusterLimits m_limits;
    QTcpServer m_server;
    // By a number never used twice: after anything that may have closed a client (a write, a
    // Notice), its handler looks it up again instead of holding on to it.
    std::map<std::uint64_t, std::unique_ptr<Client>> m_clients;
    std::uint64_t m_nextId = 1;
};
