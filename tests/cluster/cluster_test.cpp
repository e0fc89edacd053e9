#include "cluster/cluster_node.h"
#include "cluster/node_lines.h"
#include "spot/text.h"

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
constexpr std::time_t kSent = 1796646896; // 7-Dec-2026 12:34:56 UTC

bool Matches(const QByteArray& got, const QString& pattern)
{
    return QRegularExpression("\\A" + pattern + "\\z").match(got).hasMatch();
}

QString Escaped(const std::string& text)
{
    return QRegularExpression::escape(QString::fromStdString(text));
}

class ClusterTest : public QObject
{
    Q_OBJECT

private slots:
    // Node lines and sh/dx lines of spots sent at 12:34:56 UTC on 7 Dec 2026.
    void linesKeepTheirColumns()
    {
        const std::tuple<Spot, QString, QString> rows[] = {
            // 3-character calls on 160 m.
            {*SpotOfFields("W1A", 1830.0, "K1X", "CQ", "1234"),
             "DX de W1A:        1830.0  K1X          CQ                             1234Z",
             "   1830.0 K1X          7-Dec-2026 1234Z CQ                             <W1A>"},
            // A 15-character spotter is cut, a 13-character call is not; spotted the day before.
            {*SpotOfFields("VP2E/DL1ABC/QRP", 10489540.0, "VP2E/N1CALL/P", "SSB up 5", "2359"),
             "DX de VP2E/D: 10489540.0  VP2E/N1CALL/P SSB up 5                      2359Z",
             "10489540.0 VP2E/N1CALL/P 6-Dec-2026 2359Z SSB up 5                      <VP2E/DL1ABC/QRP>"},
            // A 14-character call, a UTF-8 comment cut by characters.
            {*SpotOfFields("EA8/DL1ABC/P", 144300.0, "3D2/DL1ABCD/MM", "Grüße aus Köln an alle Freunde",
                           "1200"),
             "DX de EA8/DL1A: 144300.0  3D2/DL1ABCD/MM Grüße aus Köln an alle Freun 1200Z",
             " 144300.0 3D2/DL1ABCD/MM 7-Dec-2026 1200Z Grüße aus Köln an alle Freun <EA8/DL1ABC/P>"},
            // A page line one character off: each column runs on into the next; no time.
            {{"DL1ABC", " 14025.0 K", "1ABC      go", "od line after the garbage    1", "001Z"},
             "DX de DL1ABC:    14025.0  K1ABC        good line after the garbage    1234Z",
             "  14025.0 K1ABC        7-Dec-2026 1234Z good line after the garbage    <DL1ABC>"},
            // Invalid bytes, control characters, no figure, a bad time.
            {{"\377AB\033", "14O25\x01", "\xe2\x82 \xc3", "\x80\tx\xe2\x82\xac", "99"},
             "DX de ?AB?:       14O25?  ??           À x€                           1234Z",
             "   14O25? ??           7-Dec-2026 1234Z À x€                           <?AB?>"},
            {{},
             "DX de :" + QString(63, ' ') + "1234Z",
             "                       7-Dec-2026 1234Z                                <>"},
        };
        for (const auto& [spot, line, show] : rows) {
            const std::string node = NodeSpotLine(spot, kSent);
            QCOMPARE(QString::fromStdString(node), line);
            QCOMPARE(QString::fromStdString(ShowDxLine(spot, kSent)), show);
            // Counted in characters: the call from 26, Z at 74; never a byte that is no UTF-8.
            QVERIFY(ValidUtf8(node) == node && line.size() == 75 && line[74] == 'Z' && line[25] == ' ');
        }
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
                *SpotOfFields("N0CALL", 14025.0, "N1CALL", "CQ " + std::to_string(sent.size()), "0000"));
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

        // The dialogue: what a logger sends at once after connecting, and all it gets; only bye closes.
        for (int i = 0; i < 3; ++i) {
            sendSpot();
        }
        const auto shown = [&](int i) { return Escaped(ShowDxLine(sent[i], std::time(nullptr)) + "\r\n"); };
        const QString in = "login: Hello DL1ABC" + kHello + "DL1ABC" + kPrompt;
        const QString prompt = "DL1ABC" + kPrompt;
        const std::pair<QByteArray, QString> rows[] = {
            {"DL1ABC\r\nsh/dx 3\r\n", in + shown(2) + shown(1) + shown(0) + prompt},
            {"DL1ABC\r\nSHOW/DX/1\r\n", in + shown(2) + prompt},
            {"DL1ABC\r\ndx 14025.0 K1ABC test\r\n",
             in + "Sorry, QUARNEL-1 relays .* cannot take spots.*\r\n" + prompt},
            {"DL1ABC\r\nhelp\r\n", in + "QUARNEL-1 relays .* Commands:\r\n(  .*\r\n){3}" + prompt},
            {"DL1ABC\r\nset/page 0\r\nsh/wwv\r\n", in + prompt + "Unknown command: sh/wwv .*\r\n" + prompt},
            {"\r\n12345\r\nK1\r\ndl1abc Hans\r\n",
             "login: Please log in with your call\r\nlogin: 12345 is not a call: .* one letter and one "
             "digit\r\n"
             "login: K1 is not a call: .* 3 to 20 characters\r\n"
                 + in},
            {"bye\r\n", "login: 73 de QUARNEL-1\r\n"},
        };
        for (const auto& [input, answer] : rows) {
            Logger logger(port, input);
            QTRY_VERIFY2(Matches(logger.got, answer), logger.got.constData());
            QTRY_COMPARE(logger.state() == QAbstractSocket::UnconnectedState,
                         answer.endsWith("QUARNEL-1\r\n"));
        }

        // Telnet negotiation first, as telnet clients send it.
        Logger a(port, "dl1abc\r\n"), b(port, "\xff\xfb\x18\xff\xfb\x1fn0call\n");
        const auto clear = [&] { a.got.clear(), b.got.clear(), lines.clear(); };
        QTRY_VERIFY(Matches(a.got, in));
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
        a.write(QByteArrayLiteral("\xff\xfd\x22set/page 0\xff\xfa\x1f\x00\x50\x00\x18\xff\xf0\r"));
        QTRY_VERIFY(Matches(a.got, "DL1ABC" + kPrompt));
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
