#pragma once

#include <stdexcept>
#include <string>

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace testing_support {

/// A cluster node on 127.0.0.1 for a client under test, on the event loop: it greets each
/// connection with its prompt (no line end; "" for a node that asks nothing), sends lines to the
/// client that connected last, cuts its connection, and records everything clients sent.
class FakeClusterNode
{
public:
    explicit FakeClusterNode(std::string prompt)
        : m_prompt(std::move(prompt))
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket* client = m_server.nextPendingConnection()) {
                m_client = client;
                QObject::connect(client, &QTcpSocket::readyRead, client,
                                 [this, client] { m_received += client->readAll().toStdString(); });
                send(m_prompt);
            }
        });
        listen(true);
    }

    /// "telnet://127.0.0.1:<port>".
    [[nodiscard]] std::string url() const { return "telnet://127.0.0.1:" + std::to_string(m_port); }
    /// Sends `bytes` to the client that connected last, into the kernel now.
    void send(const std::string& bytes)
    {
        if (m_client != nullptr) {
            m_client->write(bytes.data(), static_cast<qint64>(bytes.size()));
            m_client->flush();
        }
    }
    /// Closes the last client's connection.
    void cut()
    {
        if (m_client != nullptr) {
            m_client->disconnectFromHost();
        }
    }
    /// Listens on the same port again, or stops listening: connections are refused.
    void listen(bool on)
    {
        if (!on) {
            m_server.close();
        } else if (!m_server.listen(QHostAddress::LocalHost, m_port)) {
            throw std::runtime_error("FakeClusterNode: cannot listen on 127.0.0.1");
        }
        m_port = on ? m_server.serverPort() : m_port;
    }
    /// Everything the clients sent, in order.
    [[nodiscard]] const std::string& received() const { return m_received; }

private:
    std::string m_prompt;
    QTcpServer m_server; ///< the parent of the clients
    QPointer<QTcpSocket> m_client;
    quint16 m_port = 0;
    std::string m_received;
};

} // namespace testing_support
