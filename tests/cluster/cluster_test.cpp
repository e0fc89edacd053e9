#include "cluster/cluster_node.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// A logger on 127.0.0.1 that sends `login` at once and collects everything it receives.
struct Logger : QTcpSocket
{
    explicit Logger(quint16 port, const QByteArray& login = {})
    {
        connect(this, &QTcpSocket::readyRead, [this] { got += readAll(); });
        connectToHost(QHostAddress::LocalHost, port);
        write(login);
    }
    QByteArray got;
};

const QString kPrompt = " de QUARNEL-1 \\d{1,2}-[A-Z][a-z]{2}-\\d{4} \\d{4}Z >\r\n";
const QString kHello = ", this is QUARNEL-1 in Quarnel, a DX spot relay\r\n";

bool Matches(const QByteArray& got, const QString& pattern)
{
    return QRegularExpression("\\A" + pattern + "\\z").match(got).hasMatch();
}

class ClusterTest : public QObject
{
    Q_OBJECT

private slots:
    // One node with small limits, its loggers over real sockets; each step builds on the last.
    void everyLoggedInLoggerGetsEverySpotWhateverTheOthersDo()
    {
        std::vector<std::string> log; // the lines sent, oldest first
        const RelaySettings settings;
        ClusterNode node(settings,
                         {.sendQueueBytes = 4096, .maxClients = 4, .loginTimeout = std::chrono::seconds(3)});
        QStringList notices;
        connect(&node, &ClusterNode::Notice, [&notices](const QString& text) { notices << text; });
        QByteArray sent; // what each logged-in logger has received since the last clear()
        const auto sendSpot = [&] {
            const std::string comment = "CQ " + std::to_string(log.size());
            const Spot spot {"N0CALL", "   14025.0", " N1CALL     ",
                             comment + std::string(30 - comment.size(), ' '), "1234"};
            log.push_back(ClusterLine(spot));
            node.Send(spot);
            sent += QByteArray::fromStdString(log.back() + "\r\n");
        };

        QTcpServer blocker;
        QVERIFY(blocker.listen(QHostAddress::LocalHost));
        const quint16 port = blocker.serverPort();
        QCOMPARE(node.Listen("127.0.0.1", port),
                 "Cannot serve the cluster on 127.0.0.1 port " + std::to_string(port)
                     + ": The bound address is already in use");
        blocker.close();
        QCOMPARE(node.Listen("127.0.0.1", port), "");

        // Telnet negotiation first, as telnet clients send it; a call that is no call is asked again.
        Logger a(port, "dl1abc\r\n"), b(port, "\xff\xfb\x18\xff\xfb\x1fN0 CALL\nn0call\n"), silent(port);
        const auto clear = [&] { a.got.clear(), b.got.clear(), sent.clear(); };
        QTRY_VERIFY(Matches(a.got, "login: Hello DL1ABC" + kHello + "DL1ABC" + kPrompt));
        QTRY_VERIFY(Matches(b.got, "login: login: Hello N0CALL" + kHello + "N0CALL" + kPrompt));
        clear();
        for (int i = 0; i < 3; ++i) {
            sendSpot();
        }
        QTRY_COMPARE(a.got, sent);
        QTRY_COMPARE(b.got, sent);
        // A lone CR ends the command; the option byte of IAC DO and a subnegotiation are no text.
        clear();
        a.write(QByteArrayLiteral("\xff\xfd\x22sh/dx 2\xff\xfa\x1f\x00\x50\x00\x18\xff\xf0\r"));
        QTRY_VERIFY(
            Matches(a.got,
                    QRegularExpression::escape(QString::fromStdString(log[1] + "\r\n" + log[2] + "\r\n"))
                        + "DL1ABC" + kPrompt));
        // No spot before a login, and no connection once the login time is over.
        QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QAbstractSocket::UnconnectedState, 10000);
        QCOMPARE(silent.got, "login: ");

        Logger junk(port, "junk\n"), stuck(port, "stuck\r\n"), refused(port, "late\r\n");
        QTRY_COMPARE(refused.got, "Sorry, too many connections\r\n");
        QTRY_COMPARE(refused.state(), QAbstractSocket::UnconnectedState);
        // From now on the stuck logger reads nothing: the kernel's buffers fill, then the node's queue.
        QTRY_VERIFY(stuck.got.endsWith(">\r\n"));
        stuck.disconnect();
        stuck.setReadBufferSize(1);
        clear();
        // 1 MiB: negotiation, subnegotiation, IAC IAC, NULs, binary, lines over 1 KiB ended by lone CRs.
        const QByteArray negotiation("\xff\xfb\x01\xff\xfa\x18\x01\x00\xff\xf0\xff\xff\x00", 13);
        junk.write((negotiation + QByteArray(2000, '\x9b') + QByteArray(2000, 'x') + '\r').repeated(262)
                   + "bye\r\n");
        for (int i = 0; i < 20000 && notices.filter("dropped").isEmpty(); ++i) {
            sendSpot();
            QCoreApplication::processEvents();
        }
        QCOMPARE(notices.filter("dropped").size(), 1);
        QVERIFY(notices.filter("dropped")[0].startsWith("Cluster: STUCK (127.0.0.1:"));
        QTRY_VERIFY(junk.got.endsWith("73 de QUARNEL-1\r\n"));
        QTRY_COMPARE(junk.state(), QAbstractSocket::UnconnectedState);
        sendSpot();
        QTRY_COMPARE(a.got, sent);
        QTRY_COMPARE(b.got, sent);
        a.write("BYE\n");
        QTRY_COMPARE(a.got, sent + "73 de QUARNEL-1\r\n");
        QTRY_COMPARE(node.ClientCount(), 1);
    }
};

QTEST_GUILESS_MAIN(ClusterTest)
#include "cluster_test.moc"
