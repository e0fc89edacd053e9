#include "cluster/cluster_node.h"
#include "cluster/node_lines.h"
#include "spot/text.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

Q_DECLARE_METATYPE(Spot)

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
constexpr std::time_t kSent = 1796646896; // 7-Dec-2026 12:34:56 UTC

bool Matches(const QByteArray& got, const QString& pattern)
{
    return QRegularExpression("\\A" + pattern + "\\z").match(got).hasMatch();
}

QString Escaped(const std::string& text)
{
    return QRegularExpression::escape(QString::fromStdString(text));
}

quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

class ClusterTest : public QObject
{
    Q_OBJECT

    const RelaySettings m_settings;
    ClusterNode m_node {m_settings};
    quint16 m_port = FreePort();
    std::vector<Spot> m_sent;
    std::time_t m_sentAt = 0;

private slots:
    void initTestCase()
    {
        QCOMPARE(m_node.Listen("127.0.0.1", m_port), "");
        for (const char* call : {"K1AA", "K1BB", "K1CC", "K1DD"}) {
            m_sent.push_back(*SpotOfFields("DL1XYZ", 14025.0, call, "CQ", "0000"));
            m_sentAt = std::time(nullptr);
            m_node.Send(m_sent.back());
        }
    }

    void linesKeepTheirColumns_data()
    {
        QTest::addColumn<Spot>("spot");
        QTest::addColumn<QString>("dxCall");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("show");
        const auto fields = [](const char* de, double khz, const char* dx, const char* comment,
                               const char* time) { return *SpotOfFields(de, khz, dx, comment, time); };
        QTest::newRow("3-character calls, 160 m")
            << fields("W1A", 1830.0, "K1X", "CQ", "1234") << "K1X"
            << "DX de W1A:        1830.0  K1X          CQ                             1234Z"
            << "   1830.0 K1X          7-Dec-2026 1234Z CQ                             <W1A>";
        QTest::newRow("a spotter too long for the frequency is cut")
            << fields("EA8/DL1ABC/P", 14025.0, "N1CALL", "599 TNX QSO", "0815") << "N1CALL"
            << "DX de EA8/DL1AB: 14025.0  N1CALL       599 TNX QSO                    0815Z"
            << "  14025.0 N1CALL       7-Dec-2026 0815Z 599 TNX QSO                    <EA8/DL1ABC/P>";
        QTest::newRow("15-character spotter, QO-100, 13-character call, spotted the day before")
            << fields("VP2E/DL1ABC/QRP", 10489540.0, "VP2E/N1CALL/P", "SSB up 5", "2359") << "VP2E/N1CALL/P"
            << "DX de VP2E/D: 10489540.0  VP2E/N1CALL/P SSB up 5                      2359Z"
            << "10489540.0 VP2E/N1CALL/P 6-Dec-2026 2359Z SSB up 5                      <VP2E/DL1ABC/QRP>";
        QTest::newRow("14-character call, UTF-8 comment cut by characters")
            << fields("DL1XYZ", 144300.0, "3D2/DL1ABCD/MM", "Grüße aus Köln an alle Funkfreunde, 73", "1200")
            << "3D2/DL1ABCD/MM"
            << "DX de DL1XYZ:   144300.0  3D2/DL1ABCD/MM Grüße aus Köln an alle Funkf 1200Z"
            << " 144300.0 3D2/DL1ABCD/MM 7-Dec-2026 1200Z Grüße aus Köln an alle Funkf <DL1XYZ>";
        // A page's columns as a line one character off cuts them: each runs on into the next.
        QTest::newRow("page: text past its column, no time")
            << Spot {"DL1ABC", " 14025.0 K", "1ABC      go", "od line after the garbage    1", "001Z"}
            << "K1ABC"
            << "DX de DL1ABC:    14025.0  K1ABC        good line after the garbage    1234Z"
            << "  14025.0 K1ABC        7-Dec-2026 1234Z good line after the garbage    <DL1ABC>";
        QTest::newRow("page: invalid bytes, control characters, no figure, bad time")
            << Spot {"\xff"
                     "AB\x1b",
                     "14O25\x01", "\xe2\x82 \xc3", "\x80\tx\xe2\x82\xac", "99"}
            << "??"
            << "DX de ?AB?:       14O25?  ??           À x€                           1234Z"
            << "   14O25? ??           7-Dec-2026 1234Z À x€                           <?AB?>";
        QTest::newRow("page: empty line")
            << Spot {} << ""
            << "DX de :" + QString(63, ' ') + "1234Z"
            << "                       7-Dec-2026 1234Z                                <>";
    }

    void linesKeepTheirColumns()
    {
        QFETCH(Spot, spot);
        QFETCH(QString, dxCall);
        QFETCH(QString, line);
        QFETCH(QString, show);
        const std::string node = NodeSpotLine(spot, kSent);
        QCOMPARE(QString::fromStdString(node), line);
        QCOMPARE(QString::fromStdString(ShowDxLine(spot, kSent)), show);
        // Counted in characters, as loggers read them; never a byte that is no UTF-8.
        QCOMPARE(ValidUtf8(node), node);
        QCOMPARE(line.mid(26, dxCall.size() + 1), dxCall + ' ');
        QCOMPARE(line.size(), 75);
        QCOMPARE(line[74], 'Z');
    }

    void dialogue_data()
    {
        // Newest first: the last three sent, in the show layout.
        QString shown;
        for (std::size_t i = 0; i < 3; ++i) {
            shown += Escaped(ShowDxLine(m_sent[3 - i], m_sentAt) + "\r\n");
        }

        QTest::addColumn<QByteArray>("login");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("closed");
        const QString loggedIn = "login: Hello DL1ABC" + kHello + "DL1ABC" + kPrompt;
        QTest::newRow("sh/dx 3") << QByteArray("DL1ABC\r\n") << QByteArray("sh/dx 3\r\n")
                                 << loggedIn + shown + "DL1ABC" + kPrompt << false;
        QTest::newRow("SHOW/DX/1") << QByteArray("DL1ABC\r\n") << QByteArray("SHOW/DX/1\r\n")
                                   << loggedIn + Escaped(ShowDxLine(m_sent[3], m_sentAt)) + "\r\nDL1ABC"
                + kPrompt << false;
        QTest::newRow("dx") << QByteArray("DL1ABC\r\n") << QByteArray("dx 14025.0 K1ABC test\r\n")
                            << loggedIn
                + "Sorry, QUARNEL-1 relays the spots of its source and cannot take spots: yours was not "
                  "sent\r\nDL1ABC"
                + kPrompt << false;
        QTest::newRow("help") << QByteArray("DL1ABC\r\n") << QByteArray("help\r\n")
                              << loggedIn
                + "QUARNEL-1 relays the spots of its source. Commands:\r\n  sh/dx \\[n\\] "
                  ".*\r\n(  .*\r\n){2}DL1ABC"
                + kPrompt << false;
        QTest::newRow("set/page 0") << QByteArray("DL1ABC\r\n") << QByteArray("set/page 0\r\n")
                                    << loggedIn + "DL1ABC" + kPrompt << false;
        QTest::newRow("unknown") << QByteArray("DL1ABC\r\n") << QByteArray("sh/wwv\r\n")
                                 << loggedIn
                + "Unknown command: sh/wwv \\(help lists the commands\\)\r\nDL1ABC" + kPrompt
                                 << false;
        QTest::newRow("bye at login") << QByteArray("bye\r\n") << QByteArray() << "login: 73 de QUARNEL-1\r\n"
                                      << true;
        QTest::newRow("12345 at login")
            << QByteArray("12345\r\n") << QByteArray()
            << "login: 12345 is not a call: a call has at least one letter and one digit\r\nlogin: " << false;
        QTest::newRow("call and name at login")
            << QByteArray("dl1abc Hans\r\n") << QByteArray() << loggedIn << false;
        QTest::newRow("empty line, then a short call at login")
            << QByteArray("\r\nK1\r\n") << QByteArray()
            << "login: Please log in with your call\r\nlogin: K1 is not a call: a call has 3 to 20 "
               "characters\r\nlogin: "
            << false;
    }

    void dialogue()
    {
        QFETCH(QByteArray, login);
        QFETCH(QByteArray, command);
        QFETCH(QString, answer);
        QFETCH(bool, closed);
        Logger logger(m_port, login);
        QTRY_VERIFY(logger.got.endsWith(": ") || logger.got.endsWith(">\r\n") || closed);
        logger.write(command);
        QTRY_VERIFY2(Matches(logger.got, answer), logger.got.constData());
        QTRY_COMPARE(logger.state() == QAbstractSocket::UnconnectedState, closed);
    }

    // One node with small limits, its loggers over real sockets; each step builds on the last.
    void everyLoggedInLoggerGetsEverySpotWhateverTheOthersDo()
    {
        const RelaySettings settings;
        ClusterNode node(settings,
                         {.sendQueueBytes = 4096,
                          .maxClients = 4,
                          .maxWaiting = 2,
                          .loginTimeout = std::chrono::seconds(2)});
        QStringList notices;
        connect(&node, &ClusterNode::Notice, [&notices](const QString& text) { notices << text; });
        std::vector<Spot> sent;
        QByteArray lines; // what each logged-in logger has received since the last clear()
        const auto sendSpot = [&] {
            sent.push_back(
                *SpotOfFields("N0CALL", 14025.0, "N1CALL", "CQ " + std::to_string(sent.size()), "1234"));
            node.Send(sent.back());
            lines += QByteArray::fromStdString(NodeSpotLine(sent.back(), 0) + "\r\n");
        };

        QTcpServer blocker;
        QVERIFY(blocker.listen(QHostAddress::LocalHost));
        const quint16 port = blocker.serverPort();
        QCOMPARE(node.Listen("127.0.0.1", port),
                 "Cannot serve the cluster on 127.0.0.1 port " + std::to_string(port)
                     + ": The bound address is already in use");
        blocker.close();
        QCOMPARE(node.Listen("127.0.0.1", port), "");

        // Telnet negotiation first, as telnet clients send it.
        Logger a(port, "dl1abc\r\n"), b(port, "\xff\xfb\x18\xff\xfb\x1fn0call\n");
        const auto clear = [&] { a.got.clear(), b.got.clear(), lines.clear(); };
        QTRY_VERIFY(Matches(a.got, "login: Hello DL1ABC" + kHello + "DL1ABC" + kPrompt));
        QTRY_VERIFY(Matches(b.got, "login: Hello N0CALL" + kHello + "N0CALL" + kPrompt));
        Logger silent(port);
        clear();
        for (int i = 0; i < 3; ++i) {
            sendSpot();
        }
        QTRY_COMPARE(a.got, lines);
        QTRY_COMPARE(b.got, lines);
        // A lone CR ends the command; the option byte of IAC DO and a subnegotiation are no text.
        clear();
        a.write(QByteArrayLiteral("\xff\xfd\x22sh/dx 2\xff\xfa\x1f\x00\x50\x00\x18\xff\xf0\r"));
        QTRY_VERIFY(Matches(a.got,
                            Escaped(ShowDxLine(sent[2], std::time(nullptr)) + "\r\n"
                                    + ShowDxLine(sent[1], std::time(nullptr)) + "\r\n")
                                + "DL1ABC" + kPrompt));
        // No spot before a login, and one line when the login time is over.
        QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QAbstractSocket::UnconnectedState, 10000);
        QCOMPARE(silent.got, "login: No login within 2 s, 73\r\n");

        Logger junk(port, "junk1\n"), stuck(port, "stuck1\r\n");
        QTRY_VERIFY(stuck.got.endsWith(">\r\n") && junk.got.endsWith(">\r\n"));
        Logger refused(port);
        QTRY_COMPARE(refused.got, "Sorry, too many connections\r\n");
        QTRY_COMPARE(refused.state(), QAbstractSocket::UnconnectedState);
        // From now on the stuck logger reads nothing: the kernel's buffers fill, then the node's queue.
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
        QVERIFY(notices.filter("dropped")[0].startsWith("Cluster: STUCK1 (127.0.0.1:"));
        QTRY_VERIFY(junk.got.endsWith("73 de QUARNEL-1\r\n"));
        QCOMPARE(junk.got.count("Unknown command: xxxxxxxxxxxxxxxxxxxx... (help lists the commands)\r\n"),
                 262);
        QTRY_COMPARE(junk.state(), QAbstractSocket::UnconnectedState);
        sendSpot();
        QTRY_COMPARE(a.got, lines);
        QTRY_COMPARE(b.got, lines);
        a.write("BYE\n");
        QTRY_COMPARE(a.got, lines + "73 de QUARNEL-1\r\n");
        QTRY_COMPARE(node.ClientCount(), 1);

        // Connections that never log in keep nobody out: a third waiting one closes the first.
        Logger first(port), second(port);
        QTRY_VERIFY(first.got == "login: " && second.got == "login: ");
        Logger third(port);
        QTRY_COMPARE(first.got,
                     "login: Sorry, too many connections wait for a login; this one waited longest\r\n");
        QTRY_COMPARE(first.state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(third.got, "login: ");
        QCOMPARE(std::pair(second.state(), node.ClientCount()),
                 std::pair(QAbstractSocket::ConnectedState, 3));
    }
};

QTEST_GUILESS_MAIN(ClusterTest)
#include "cluster_test.moc"
