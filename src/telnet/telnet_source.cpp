#include "telnet/telnet_source.h"

#include "spot/text.h"
#include "telnet/dx_line.h"

#include <algorithm>
#include <string_view>

#include <QTcpSocket>
#include <QUrl>

namespace {

constexpr std::string_view kScheme = "TELNET://";

struct TelnetAddress
{
    QString host;
    quint16 port;
};

// "telnet://host[:port]", a trailing slash allowed; an IPv6 address in brackets.
std::optional<TelnetAddress> AddressOf(const std::string& url)
{
    const QUrl parsed(QString::fromStdString(std::string(TrimBlanks(url))), QUrl::StrictMode);
    const int port = parsed.port(TelnetSource::kDefaultPort);
    if (!parsed.isValid() || parsed.host().isEmpty() || !parsed.userInfo().isEmpty()
        || (!parsed.path().isEmpty() && parsed.path() != QStringLiteral("/")) || parsed.hasQuery()
        || parsed.hasFragment() || port < 1 || port > 65535) {
        return std::nullopt;
    }
    return TelnetAddress {parsed.host(), static_cast<quint16>(port)};
}

// The call as it goes to the node: a blank or a control character in it would end the login line
// early or send the node a command of its own.
std::optional<std::string> LoginCallOf(const std::string& call)
{
    const std::string_view trimmed = TrimBlanks(call);
    if (trimmed.empty()
        || !std::all_of(trimmed.begin(), trimmed.end(), [](char c) { return c > ' ' && c < '\x7F'; })) {
        return std::nullopt;
    }
    return std::string(trimmed);
}

// Nodes end their login prompt without a line end and ask for a "login" or a "call".
bool IsLoginPrompt(const std::string& pending)
{
    const std::string text = UpperAscii(pending);
    return text.find("LOGIN") != std::string::npos || text.find("CALL") != std::string::npos;
}

// Seconds as people read them, whatever the locale: "5", "300", "0.1".
QString SecondsOf(std::chrono::milliseconds time)
{
    return QString::number(static_cast<double>(time.count()) / 1000.0);
}

} // namespace

TelnetSource::TelnetSource(TelnetTiming timing, QObject* parent)
    : QObject(parent)
    , m_timing(timing)
{
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &TelnetSource::Connect);
    m_loginTimer.setSingleShot(true);
    m_loginTimer.setInterval(m_timing.loginAfter);
    connect(&m_loginTimer, &QTimer::timeout, this,
            [this] { SendCall(QStringLiteral("no prompt after %1 s").arg(SecondsOf(m_timing.loginAfter))); });
    m_silenceTimer.setSingleShot(true);
    m_silenceTimer.setInterval(m_timing.silenceLimit);
    connect(&m_silenceTimer, &QTimer::timeout, this, [this] {
        Lose(QStringLiteral("nothing received for %1 s").arg(SecondsOf(m_timing.silenceLimit)));
    });
}

TelnetSource::~TelnetSource()
{
    ++m_session;
    m_running = false;
    CloseSocket();
}

bool TelnetSource::Serves(const std::string& url) const
{
    return UpperAscii(TrimBlanks(url)).starts_with(kScheme);
}

std::string TelnetSource::Start(const std::string& url, const std::string& call, SpotHandler handler)
{
    Stop();
    const auto address = AddressOf(url);
    if (!address) {
        return kBadUrlMessage;
    }
    const auto login = LoginCallOf(call);
    if (!login) {
        return kNoCallMessage;
    }
    ++m_session;
    m_running = true;
    m_url = url;
    m_call = call;
    m_login = QByteArray::fromStdString(*login + "\r\n");
    m_host = address->host;
    m_port = address->port;
    m_link = (m_host.contains(':') ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2"))
                 .arg(m_host)
                 .arg(m_port);
    m_handler = std::move(handler);
    m_retryDelay = m_timing.firstRetry;
    m_problemShown = false;
    Connect();
    return {};
}

void TelnetSource::Stop()
{
    if (!m_running) {
        return;
    }
    ++m_session;
    m_running = false;
    m_retryTimer.stop();
    CloseSocket();
    emit Notice(QStringLiteral("Telnet: %1 closed").arg(m_link));
    SetState({});
}

bool TelnetSource::RunsFor(const std::string& url, const std::string& call) const
{
    return m_running && url == m_url && call == m_call;
}

void TelnetSource::Connect()
{
    CloseSocket();
    m_socket = new QTcpSocket(this);
    m_lines.emplace(kLineBytes, kNodeText);
    m_callSent = false;
    connect(m_socket, &QTcpSocket::connected, this, &TelnetSource::OnConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &TelnetSource::OnReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &TelnetSource::OnError);
    connect(m_socket, &QTcpSocket::disconnected, this,
            [this] { Lose(QStringLiteral("closed by the node")); });
    SetState(QStringLiteral("connecting"));
    emit Notice(QStringLiteral("Telnet: connecting to %1").arg(m_link));
    // Also bounds a connect that hangs: the kernel may try for minutes.
    m_silenceTimer.start();
    m_socket->connectToHost(m_host, m_port);
}

void TelnetSource::OnConnected()
{
    m_connectedFor.start();
    // A node that vanished without a FIN is noticed by the kernel long before the silence limit.
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    m_loginTimer.start();
    emit Notice(QStringLiteral("Telnet: connected to %1").arg(m_link));
}

void TelnetSource::OnReadyRead()
{
    const std::uint64_t session = m_session;
    m_silenceTimer.start();
    const QByteArray bytes = m_socket->readAll();
    const std::vector<std::string> lines
        = m_lines->Feed({bytes.constData(), static_cast<std::size_t>(bytes.size())});
    if (const std::string answers = m_lines->TakeAnswers(); !answers.empty()) {
        m_socket->write(answers.data(), static_cast<qint64>(answers.size()));
        m_socket->flush();
    }
    const bool loggedIn = m_callSent;
    if (!loggedIn && IsLoginPrompt(m_lines->Pending())) {
        SendCall(QStringLiteral("asked"));
    }
    // A write that failed has lost the connection meanwhile: its state stays.
    if (m_socket != nullptr && loggedIn && !lines.empty() && !m_state.isEmpty()) {
        SetState({});
    }
    if (session != m_session) {
        return;
    }
    // A copy: the handler may stop or restart this source, which replaces m_handler.
    const SpotHandler handler = m_handler;
    for (const std::string& line : lines) {
        if (const auto spot = SpotOfDxLine(line)) {
            handler(*spot);
            if (session != m_session) {
                return;
            }
        }
    }
}

void TelnetSource::OnError(QAbstractSocket::SocketError error)
{
    const std::uint64_t session = m_session;
    const QString reason = m_socket->errorString();
    Lose(reason);
    if (error == QAbstractSocket::HostNotFoundError && !m_problemShown && session == m_session) {
        m_problemShown = true;
        emit Problem(
            QStringLiteral("Cannot find the cluster node %1: %2. Quarnel keeps trying.").arg(m_link, reason));
    }
}

void TelnetSource::SendCall(const QString& why)
{
    if (m_callSent || m_socket == nullptr) {
        return;
    }
    m_callSent = true;
    m_loginTimer.stop();
    // The prompt is answered: it does not open the node's next line.
    m_lines->DropPending();
    m_socket->write(m_login);
    m_socket->flush();
    emit Notice(QStringLiteral("Telnet: logging in to %1 as %2 (%3)")
                    .arg(m_link, QString::fromLatin1(m_login.chopped(2)), why));
}

void TelnetSource::Lose(const QString& why)
{
    if (!m_running || m_socket == nullptr) {
        return;
    }
    const bool steady = m_connectedFor.isValid() && m_connectedFor.elapsed() >= m_timing.steadyAfter.count();
    CloseSocket();
    if (steady) {
        m_retryDelay = m_timing.firstRetry;
    }
    const QString next = QStringLiteral("next try in %1 s").arg(SecondsOf(m_retryDelay));
    m_retryTimer.start(m_retryDelay);
    m_retryDelay = std::min(m_retryDelay * 2, m_timing.longestRetry);
    emit Notice(QStringLiteral("Telnet: %1 lost (%2), %3").arg(m_link, why, next));
    SetState(QStringLiteral("lost, ") + next);
}

void TelnetSource::CloseSocket()
{
    m_loginTimer.stop();
    m_silenceTimer.stop();
    m_connectedFor.invalidate();
    if (m_socket != nullptr) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
}

void TelnetSource::SetState(const QString& state)
{
    if (state == m_state) {
        return;
    }
    m_state = state;
    emit StateChanged(m_link, state);
}
