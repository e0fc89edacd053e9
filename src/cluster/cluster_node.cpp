#include "cluster/cluster_node.h"

#include "telnet/telnet_lines.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <ctime>
#include <sstream>

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

namespace {

// A client that was told goodbye but does not read it is closed anyway after this.
constexpr std::chrono::seconds kGoodbyeGrace {5};
// Room for hundreds of spots in flight, while a stuck client costs the kernel little.
constexpr int kKernelSendBuffer = 64 * 1024;
constexpr int kDefaultSpotCount = 30;
constexpr std::size_t kMaxCallLength = 20;

QString PeerName(const QTcpSocket& socket)
{
    QHostAddress address = socket.peerAddress();
    // A node listening on "::" sees IPv4 loggers as ::ffff:a.b.c.d; show them as a.b.c.d.
    bool isIpv4 = false;
    if (const quint32 ipv4 = address.toIPv4Address(&isIpv4); isIpv4) {
        address = QHostAddress(ipv4);
    }
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(address.toString())
        : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(socket.peerPort());
}

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string()
                                      : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool IsCallSign(const std::string& call)
{
    return !call.empty() && call.size() <= kMaxCallLength
        && std::all_of(call.begin(), call.end(), [](char c) {
               return std::isupper(static_cast<unsigned char>(c))
                   || std::isdigit(static_cast<unsigned char>(c)) || c == '/' || c == '-';
           });
}

std::string Lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

// The count of "sh/dx 5" or "sh/dx/5"; the default without one; -1 for anything else.
int SpotCountOf(const std::string& argument)
{
    if (argument.empty()) {
        return kDefaultSpotCount;
    }
    int count = -1;
    const auto [end, error] = std::from_chars(argument.data(), argument.data() + argument.size(), count);
    return error == std::errc() && end == argument.data() + argument.size() && count >= 0 ? count : -1;
}

} // namespace

struct ClusterNode::Client
{
    Client(QTcpSocket* client, QString address, std::size_t lineBytes)
        : socket(client)
        , peer(std::move(address))
        , lines(lineBytes)
    {
    }

    [[nodiscard]] QString Who() const
    {
        return call.empty() ? peer : QStringLiteral("%1 (%2)").arg(QString::fromStdString(call), peer);
    }

    QTcpSocket* socket; ///< a child of the node, deleted later than the client
    QString peer;
    std::string call; ///< empty until logged in: no spots before that
    TelnetLines lines;
};

ClusterNode::ClusterNode(const RelaySettings& settings, ClusterLimits limits, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_limits(limits)
    , m_server(this)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ClusterNode::OnNewConnection);
}

ClusterNode::~ClusterNode()
{
    Shut();
}

std::string ClusterNode::Apply()
{
    auto wanted = std::pair(m_settings.ClusterAddress, m_settings.ClusterPort);
    if (wanted == m_served) {
        return {};
    }
    m_served = std::move(wanted);
    return Listen(m_served->first, m_served->second);
}

std::string ClusterNode::Listen(const std::string& address, int port)
{
    Shut();
    if (port == 0) {
        return {};
    }
    const QString where = QStringLiteral("%1 port %2").arg(QString::fromStdString(address)).arg(port);
    const auto failure = [&where](const QString& reason) {
        return QStringLiteral("Cannot serve the cluster on %1: %2").arg(where, reason).toStdString();
    };
    if (port < 0 || port > 65535) {
        return failure(QStringLiteral("not a port number (1 to 65535)"));
    }
    QHostAddress host;
    // "::" serves IPv4 loggers too, as it does for most servers on Linux.
    if (Trimmed(address) == "::") {
        host = QHostAddress::Any;
    } else if (!host.setAddress(QString::fromStdString(Trimmed(address)))) {
        return failure(QStringLiteral("not an IP address"));
    }
    if (!m_server.listen(host, static_cast<quint16>(port))) {
        return failure(m_server.errorString());
    }
    emit Notice(QStringLiteral("Cluster: serving on %1").arg(where));
    return {};
}

void ClusterNode::Shut()
{
    m_server.close();
    m_clients.clear();
    // Clients being told goodbye are children too.
    for (QTcpSocket* socket : findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly)) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void ClusterNode::Send(const Spot& spot)
{
    m_spots.push_back(ClusterLine(spot));
    if (m_spots.size() > kKeptSpots) {
        m_spots.pop_front();
    }
    const std::string bytes = m_spots.back() + "\r\n";
    // A send may drop a client (full queue, failed socket): walk a copy of the ids.
    std::vector<std::uint64_t> loggedIn;
    for (const auto& [id, client] : m_clients) {
        if (!client->call.empty()) {
            loggedIn.push_back(id);
        }
    }
    for (const std::uint64_t id : loggedIn) {
        Send(id, bytes);
    }
}

void ClusterNode::OnNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        const QString peer = PeerName(*socket);
        if (ClientCount() >= m_limits.maxClients) {
            SayGoodbye(socket, "Sorry, too many connections\r\n");
            emit Notice(QStringLiteral("Cluster: %1 refused: already %2 connections")
                            .arg(peer)
                            .arg(m_limits.maxClients));
            continue;
        }
        // Spots are short and should leave at once, not wait for the previous one's ACK. The
        // kernel would otherwise grow a stuck client's send buffer to megabytes.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kKernelSendBuffer);
        const std::uint64_t id = m_nextId++;
        m_clients.emplace(id, std::make_unique<Client>(socket, peer, m_limits.lineBytes));
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { OnReadyRead(id); });
        connect(socket, &QTcpSocket::disconnected, this,
                [this, id] { Drop(id, QStringLiteral("disconnected")); });
        QTimer::singleShot(m_limits.loginTimeout, socket, [this, id] {
            if (const Client* client = Find(id); client != nullptr && client->call.empty()) {
                const double seconds = static_cast<double>(m_limits.loginTimeout.count()) / 1000.0;
                Drop(id, QStringLiteral("closed: no login within %1 s").arg(seconds));
            }
        });
        if (Send(id, "login: ")) {
            emit Notice(QStringLiteral("Cluster: %1 connected").arg(peer));
        }
    }
}

void ClusterNode::OnReadyRead(std::uint64_t id)
{
    Client* client = Find(id);
    if (client == nullptr) {
        return;
    }
    const QByteArray bytes = client->socket->readAll();
    for (const std::string& line :
         client->lines.Feed({bytes.constData(), static_cast<std::size_t>(bytes.size())})) {
        // An earlier line may have closed the client (bye, a full queue).
        client = Find(id);
        if (client == nullptr) {
            return;
        }
        if (client->call.empty()) {
            Login(id, *client, line);
        } else {
            Command(id, *client, line);
        }
    }
}

void ClusterNode::Login(std::uint64_t id, Client& client, const std::string& line)
{
    std::string call = Trimmed(line);
    std::transform(call.begin(), call.end(), call.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    if (!IsCallSign(call)) {
        Send(id, "login: ");
        return;
    }
    client.call = call;
    const std::string greeting
        = "Hello " + call + ", this is " + kNodeCall + " in Quarnel, a DX spot relay\r\n";
    if (Send(id, greeting) && Send(id, PromptLine(call))) {
        emit Notice(
            QStringLiteral("Cluster: %1 logged in from %2").arg(QString::fromStdString(call), client.peer));
    }
}

void ClusterNode::Command(std::uint64_t id, Client& client, const std::string& line)
{
    std::istringstream words(line);
    std::string command;
    std::string argument;
    std::string rest;
    words >> command >> argument >> rest;
    command = Lowered(command);
    // Some loggers write the count as "sh/dx/30".
    if (argument.empty() && std::count(command.begin(), command.end(), '/') == 2) {
        const std::size_t slash = command.rfind('/');
        argument = command.substr(slash + 1);
        command.resize(slash);
    }

    if (command == "bye" || command == "quit") {
        const auto found = m_clients.find(id);
        std::unique_ptr<Client> leaving = std::move(found->second);
        m_clients.erase(found);
        SayGoodbye(leaving->socket, std::string("73 de ") + kNodeCall + "\r\n");
        emit Notice(QStringLiteral("Cluster: %1 logged out").arg(leaving->Who()));
        return;
    }
    if (const int count = SpotCountOf(argument);
        (command == "sh/dx" || command == "show/dx") && rest.empty() && count >= 0) {
        const auto first = m_spots.end() - std::clamp<std::ptrdiff_t>(count, 0, std::ssize(m_spots));
        for (const std::string& spot : std::vector<std::string>(first, m_spots.end())) {
            if (!Send(id, spot + "\r\n")) {
                return;
            }
        }
    }
    // Whatever the node does not know gets the prompt line, never a disconnect.
    Send(id, PromptLine(client.call));
}

bool ClusterNode::Send(std::uint64_t id, std::string_view bytes)
{
    Client* client = Find(id);
    if (client == nullptr) {
        return false;
    }
    QTcpSocket& socket = *client->socket;
    if (socket.bytesToWrite() + static_cast<qint64>(bytes.size()) > m_limits.sendQueueBytes) {
        Drop(id,
             QStringLiteral("dropped: more than %1 bytes waiting to be sent").arg(m_limits.sendQueueBytes));
        return false;
    }
    socket.write(bytes.data(), static_cast<qint64>(bytes.size()));
    // Into the kernel now, not at the next turn of the event loop; a failed socket drops the client.
    socket.flush();
    return Find(id) != nullptr;
}

void ClusterNode::Drop(std::uint64_t id, const QString& why)
{
    const auto found = m_clients.find(id);
    if (found == m_clients.end()) {
        return;
    }
    const std::unique_ptr<Client> client = std::move(found->second);
    m_clients.erase(found);
    client->socket->disconnect(this);
    client->socket->abort();
    client->socket->deleteLater();
    emit Notice(QStringLiteral("Cluster: %1 %2").arg(client->Who(), why));
}

void ClusterNode::SayGoodbye(QTcpSocket* socket, std::string_view text)
{
    socket->disconnect(this);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kGoodbyeGrace, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->write(text.data(), static_cast<qint64>(text.size()));
    socket->disconnectFromHost();
}

ClusterNode::Client* ClusterNode::Find(std::uint64_t id) const
{
    const auto found = m_clients.find(id);
    return found == m_clients.end() ? nullptr : found->second.get();
}

std::string ClusterNode::PromptLine(const std::string& call)
{
    const std::time_t now = std::time(nullptr);
    return call + " de " + kNodeCall + " " + ClusterDate(now) + " " + FormatUtc(now, "%H%MZ") + " >\r\n";
}
