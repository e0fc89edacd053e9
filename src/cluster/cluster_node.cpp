#include "cluster/cluster_node.h"

#include "cluster/node_lines.h"
#include "spot/text.h"
#include "telnet/telnet_lines.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <sstream>

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

namespace {

// A client that was told goodbye but does not read it is closed anyway after this.
constexpr std::chrono::seconds kGoodbyeGrace {5};
// Room for hundreds of spots in flight, while a stuck client costs the kernel little.
constexpr int kKernelSendBuffer = 64 * 1024;
constexpr std::size_t kDefaultSpotCount = 30;
constexpr std::size_t kMinCallLength = 3;
constexpr std::size_t kMaxCallLength = 20;
const std::vector<std::string> kHelp = {
    std::string(ClusterNode::kNodeCall) + " relays the spots of its source. Commands:",
    "  sh/dx [n]   the last n spots (30 without n), newest first; also show/dx, sh/dx/n",
    "  help or ?   this list",
    "  bye or quit log out",
};

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

bool IsLetter(char c)
{
    return c >= 'A' && c <= 'Z';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

/// What the user typed, as an answer repeats it: a line of a kilobyte need not come back whole.
std::string Shown(const std::string& typed)
{
    return typed.size() <= kMaxCallLength ? typed : typed.substr(0, kMaxCallLength) + "...";
}

/// Why `call` (upper case) cannot be a call sign, as one line for the user; "" when it can.
std::string WhyNoCall(const std::string& call)
{
    if (call.empty()) {
        return "Please log in with your call";
    }
    const std::string shown = Shown(call);
    if (call.size() < kMinCallLength || call.size() > kMaxCallLength) {
        return shown + " is not a call: a call has 3 to 20 characters";
    }
    if (!std::all_of(call.begin(), call.end(),
                     [](char c) { return IsLetter(c) || IsDigit(c) || c == '/' || c == '-'; })) {
        return shown + " is not a call: a call has letters, digits, / and - only";
    }
    if (std::none_of(call.begin(), call.end(), IsLetter) || std::none_of(call.begin(), call.end(), IsDigit)) {
        return shown + " is not a call: a call has at least one letter and one digit";
    }
    return {};
}

/// The count of "sh/dx 5": the default without one, all the node keeps for a huge one, nothing
/// when it is no count.
std::optional<std::size_t> SpotCountOf(std::string_view argument)
{
    if (argument.empty()) {
        return kDefaultSpotCount;
    }
    if (!std::all_of(argument.begin(), argument.end(), IsDigit)) {
        return std::nullopt;
    }
    std::size_t count = 0;
    const auto [end, error] = std::from_chars(argument.data(), argument.data() + argument.size(), count);
    return error == std::errc::result_out_of_range ? std::numeric_limits<std::size_t>::max() : count;
}

std::string Goodbye()
{
    return std::string("73 de ") + ClusterNode::kNodeCall + "\r\n";
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
    const std::string trimmed(TrimBlanks(address));
    if (trimmed == "::") {
        host = QHostAddress::Any;
    } else if (!host.setAddress(QString::fromStdString(trimmed))) {
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
    const std::time_t now = std::time(nullptr);
    m_spots.push_back({spot, now});
    if (m_spots.size() > kKeptSpots) {
        m_spots.pop_front();
    }
    const std::string bytes = NodeSpotLine(spot, now) + "\r\n";
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
        MakeRoomForLogin();
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
                const QString seconds
                    = QString::number(static_cast<double>(m_limits.loginTimeout.count()) / 1000.0);
                CloseClient(id, QStringLiteral("No login within %1 s, 73\r\n").arg(seconds).toStdString(),
                            QStringLiteral("closed: no login within %1 s").arg(seconds));
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
    std::string word;
    std::istringstream(line) >> word;
    const std::string call = UpperAscii(word);
    if (call == "BYE" || call == "QUIT") {
        CloseClient(id, Goodbye(), QStringLiteral("left at the login prompt"));
        return;
    }
    if (const std::string why = WhyNoCall(call); !why.empty()) {
        if (Send(id, why + "\r\n")) {
            Send(id, "login: ");
        }
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
    std::string typed;
    std::string rest;
    words >> typed;
    std::getline(words, rest);
    std::string command = UpperAscii(typed);
    std::string argument(TrimBlanks(rest));
    // Some loggers write the count as "sh/dx/30".
    if (argument.empty() && std::count(command.begin(), command.end(), '/') == 2) {
        const std::size_t slash = command.rfind('/');
        argument = command.substr(slash + 1);
        command.resize(slash);
    }
    // Answering may close the client (a full queue): the prompt needs the call after that.
    const std::string call = client.call;

    if (command == "BYE" || command == "QUIT") {
        CloseClient(id, Goodbye(), QStringLiteral("logged out"));
        return;
    }
    bool answered = true;
    if (command == "SH/DX" || command == "SHOW/DX") {
        answered = ShowDx(id, argument);
    } else if (command == "DX") {
        answered
            = Send(id,
                   std::string("Sorry, ") + kNodeCall
                       + " relays the spots of its source and cannot take spots: yours was not sent\r\n");
    } else if (command == "HELP" || command == "?") {
        for (auto help = kHelp.begin(); answered && help != kHelp.end(); ++help) {
            answered = Send(id, *help + "\r\n");
        }
    } else if (!command.empty() && !command.starts_with("SET/") && !command.starts_with("UNSET/")) {
        // Loggers send set/... on their own after the login; they need no answer but the prompt.
        answered = Send(id, "Unknown command: " + Shown(typed) + " (help lists the commands)\r\n");
    }
    if (answered) {
        Send(id, PromptLine(call));
    }
}

bool ClusterNode::ShowDx(std::uint64_t id, const std::string& argument)
{
    const std::optional<std::size_t> count = SpotCountOf(argument);
    if (!count) {
        return Send(id, "sh/dx takes a number of spots, e.g. sh/dx 10\r\n");
    }
    const auto shown = static_cast<std::ptrdiff_t>(std::min(*count, m_spots.size()));
    for (auto kept = m_spots.rbegin(); kept != m_spots.rbegin() + shown; ++kept) {
        if (!Send(id, ShowDxLine(kept->spot, kept->sent) + "\r\n")) {
            return false;
        }
    }
    return true;
}

void ClusterNode::MakeRoomForLogin()
{
    int waiting = 0;
    std::uint64_t longest = 0;
    for (const auto& [id, client] : m_clients) {
        if (client->call.empty()) {
            // Ids grow: the first one waiting has waited longest.
            longest = waiting == 0 ? id : longest;
            ++waiting;
        }
    }
    if (waiting > 0 && (waiting >= m_limits.maxWaiting || ClientCount() >= m_limits.maxClients)) {
        CloseClient(longest, "Sorry, too many connections wait for a login; this one waited longest\r\n",
                    QStringLiteral("closed: waited longest of %1 at the login prompt").arg(waiting));
    }
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
    if (const std::unique_ptr<Client> client = Take(id)) {
        client->socket->disconnect(this);
        client->socket->abort();
        client->socket->deleteLater();
        emit Notice(QStringLiteral("Cluster: %1 %2").arg(client->Who(), why));
    }
}

void ClusterNode::CloseClient(std::uint64_t id, std::string_view text, const QString& why)
{
    if (const std::unique_ptr<Client> client = Take(id)) {
        SayGoodbye(client->socket, text);
        emit Notice(QStringLiteral("Cluster: %1 %2").arg(client->Who(), why));
    }
}

std::unique_ptr<ClusterNode::Client> ClusterNode::Take(std::uint64_t id)
{
    const auto found = m_clients.find(id);
    if (found == m_clients.end()) {
        return nullptr;
    }
    std::unique_ptr<Client> client = std::move(found->second);
    m_clients.erase(found);
    return client;
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
