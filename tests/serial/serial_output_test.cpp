#include "cluster/cluster_node.h"
#include "cluster/node_lines.h"
#include "relay/spot_relay.h"
#include "serial/serial_output.h"
#include "support/event_loop.h"
#include "support/fake_front_end.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

#include <chrono>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using namespace std::literals;
using namespace testing_support;
using Lines = std::vector<std::string>;

Spot SpotNumber(int n)
{
    const std::string text = "CQ " + std::to_string(n);
    return {"N0CALL", "   14025.0", " N1CALL     ", text + std::string(30 - text.size(), ' '), "1234"};
}

std::string LinesOf(int first, int last, std::string (*line)(const Spot&) = ClusterLine)
{
    std::string lines;
    for (int n = first; n <= last; ++n) {
        lines += line(SpotNumber(n)) + "\r\n";
    }
    return lines;
}

// What a logger on the node gets: the same spots in a node's columns.
std::string NodeLinesOf(int first, int last)
{
    return LinesOf(first, last, [](const Spot& spot) { return NodeSpotLine(spot, 0); });
}

/// A serial output on a pty linked as COM7, with short times, on an event loop.
struct SerialOutputTest : ::testing::Test
{
    SerialOutputTest()
    {
        pty.linkAsComPort(7);
        QObject::connect(&serial, &SerialOutput::StateChanged,
                         [this](const QString& port, const QString& state) {
                             window.ShowLinkState(port.toStdString(), state.toStdString());
                         });
        QObject::connect(&serial, &SerialOutput::Notice,
                         [this](const QString& text) { window.LogNotice(text.toStdString()); });
    }
    EventLoop loop;
    TempDir dir;
    ScopedEnv xdg {"XDG_CONFIG_HOME", dir.path().string()};
    ScopedCurrentDir cwd {dir.path()}; // no cty.dat: no continent is held back
    PtyPair pty;
    FakeFrontEnd window;
    RelaySettings settings {.Port = "COM7"};
    SerialOutput serial {settings, {.stallAfter = 300ms, .reopenEvery = 50ms}};
};

TEST_F(SerialOutputTest, OpenFailuresAndNoPort)
{
    const auto open = [this](const char* port, int speed) {
        settings.Port = port;
        settings.Speed = speed;
        const std::string error = serial.Open();
        serial.Send(SpotNumber(1));
        serial.Close(false);
        return error;
    };
    EXPECT_EQ(open("COM999", 3), "Error opening serial communication\nCOM999: no such port");
    EXPECT_EQ(open("COM7", 5), "Error opening serial communication\nCOM7: Speed 5 is none of 0 to 4");
    // Without a port no speed is used, and nothing is written.
    EXPECT_EQ(open("None", 9) + "|" + open("COM0", 3), "|");
    EXPECT_EQ(pty.take(), "");
}

// The values handed to the port: a pty takes neither 7 data bits nor parity.
TEST(LinkParameters, DerivedFromTheSettings)
{
    const auto baud = [](int speed) { return DeriveLinkParameters({.Speed = speed}).baud; };
    const auto size = [](int bits) { return int {DeriveLinkParameters({.Bits = bits}).byteSize}; };
    EXPECT_EQ((std::array {baud(0), baud(1), baud(2), baud(3), baud(4)}),
              (std::array {1200u, 2400u, 4800u, 9600u, 19200u}));
    EXPECT_EQ((std::array {size(0), size(1), size(2)}), (std::array {7, 8, 8}));
    const LinkParameters link = DeriveLinkParameters({.Port = "COM12", .Speed = -1, .Parity = 0x102});
    EXPECT_EQ(
        std::tuple(link.port, link.speedKnown, link.parity, DeriveLinkParameters({.Speed = 5}).speedKnown),
        std::tuple(12, false, 2, false));
}

// A device that stops reading while a page of new spots arrives holds nothing: the event loop
// goes on, a logger on the node gets every spot, the title says stalled; when the device reads
// again every line arrives whole and in order. One that never comes back keeps the newest 99.
TEST_F(SerialOutputTest, StalledDeviceHoldsNothing)
{
    for (const int spots : {99, 150}) {
        SCOPED_TRACE(spots);
        QTcpServer probe; // a port free on 127.0.0.1 for the node
        probe.listen(QHostAddress::LocalHost);
        settings.ClusterPort = probe.serverPort();
        probe.close();
        ClusterNode node(settings);
        FakePageSource pages;
        std::string page = "<PRE>\n";
        for (int n = 1; n <= spots; ++n) {
            const Spot spot = SpotNumber(n);
            page += spot.spotter + "  " + spot.frequency + spot.dxCall + spot.comment + spot.time + "\n";
        }
        pages.Serve({page + "</PRE>", "<PRE>\n</PRE>"});
        SpotRelay relay(window, settings, pages, {&serial, &node});
        relay.ApplySettings();
        QTcpSocket logger;
        logger.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(settings.ClusterPort));
        logger.write("DL1ABC\r\n");
        std::string received;
        SpinUntil([&] { return (received += logger.readAll().toStdString()).ends_with(" >\r\n"); });
        received.clear();

        relay.ToggleRun();
        const std::size_t junk = pty.fill();
        QElapsedTimer clock;
        clock.start();
        qint64 latest = 0, worst = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            worst = std::max(worst, clock.elapsed() - latest);
            latest = clock.elapsed();
        });
        tick.start(10);
        relay.OnTimer();
        SpinUntil([&] {
            return (received += logger.readAll().toStdString()).size() >= NodeLinesOf(1, spots).size();
        });
        SpinUntil([] { return false; }, 1s); // the device reads nothing meanwhile
        // Loose on purpose: a writer that waited for the device would hold the loop for minutes.
        EXPECT_LT(worst, 1000);
        EXPECT_EQ(
            std::tuple(received, window.linkState, serial.Waiting()),
            std::tuple(NodeLinesOf(1, spots), std::string("COM7 stalled"), std::size_t(std::min(spots, 99))));
        // The device reads again, as fast as the line comes.
        std::string line;
        const std::string expected = LinesOf(std::max(1, spots - 98), spots);
        SpinUntil([&] { return (line += pty.take()).size() >= junk + expected.size(); });
        EXPECT_EQ(line.substr(std::min(junk, line.size())), expected);
        SpinUntil([this] { return window.linkState.empty(); });
        EXPECT_EQ(std::tuple(window.linkState, serial.Waiting(), window.notices),
                  std::tuple(std::string(), std::size_t {0},
                             spots > 99 ? Lines {"COM7: 51 waiting line(s) dropped, the newest 99 were kept"}
                                        : Lines {}));
        relay.ToggleRun();
        window.notices.clear();
    }
}

// The cable pulled: lines are kept, the title says lost, no box; the configuration opened and
// closed meanwhile keeps them too. The device back under the same COM name takes them in order.
// A stop drops what waits.
TEST_F(SerialOutputTest, LostLinkComesBackWithWhatWaited)
{
    ASSERT_EQ(serial.Open(), "");
    pty.closeMaster();
    serial.Send(SpotNumber(1));
    serial.Send(SpotNumber(2));
    EXPECT_EQ(std::pair(window.linkState, serial.Waiting()),
              std::pair(std::string("COM7 lost"), std::size_t {2}));
    serial.Close(true);
    serial.Send(SpotNumber(3));
    PtyPair back;
    back.linkAsComPort(7);
    ASSERT_EQ(serial.Open(), "");
    EXPECT_EQ(std::pair(back.read(LinesOf(1, 3).size()), window.linkState),
              std::pair(LinesOf(1, 3), std::string()));

    back.closeMaster();
    serial.Send(SpotNumber(4));
    PtyPair again;
    again.linkAsComPort(7);
    SpinUntil([this] { return window.linkState.empty(); });
    EXPECT_EQ(again.read(LinesOf(4, 4).size()), LinesOf(4, 4));

    const std::size_t junk = again.fill();
    serial.Send(SpotNumber(5));
    serial.Close(false);
    ASSERT_EQ(serial.Open(), "");
    std::string line;
    SpinUntil([&] { return (line += again.take()).size() > junk; }, 300ms);
    EXPECT_EQ(line, std::string(junk, 'x'));
}

} // namespace
