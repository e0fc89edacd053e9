#include "cluster/cluster_node.h"
#include "relay/spot_relay.h"
#include "serial/serial_output.h"
#include "support/fake_cluster_node.h"
#include "support/fake_front_end.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"
#include "telnet/dx_line.h"
#include "telnet/telnet_source.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {

using namespace std::literals;
using namespace testing_support;
using Texts = std::vector<std::string>;

// What a line gives, as the log shows it; "" for no spot.
std::string Logged(const std::optional<Spot>& spot)
{
    return spot ? ClusterLine(*spot) : "";
}

TEST(DxLine, SpotsWhateverTheLayoutAndNothingElse)
{
    const auto fields = [](const char* de, double khz, const char* dx, const char* note, const char* time) {
        return Logged(SpotOfFields(de, khz, dx, note, time));
    };
    const std::vector<std::pair<const char*, std::string>> rows = {
        {"DX de OH2BH:     14025.0  VP8ABC       up 2 QSX 14027                 0712Z",
         fields("OH2BH", 14025, "VP8ABC", "up 2 QSX 14027", "0712")},
        {"DX de k1abc: 7012.5 ja1xyz tnx fer QSO 2359Z",
         fields("K1ABC", 7012.5, "JA1XYZ", "tnx fer QSO", "2359")},
        {"DX de JI1HFJ-#:1294068.2  JA1ZZZ       CW 8 dB 22 WPM CQ               1442Z JO92",
         fields("JI1HFJ-#", 1294068.2, "JA1ZZZ", "CW 8 dB 22 WPM CQ", "1442")},
        {"DX de EA5WU-#:   14025.0  DL1ABC  CW 12 dB 25 WPM CQ  1234Z",
         fields("EA5WU-#", 14025, "DL1ABC", "CW 12 dB 25 WPM CQ", "1234")},
        // The last time token is the time: an earlier one is part of the comment.
        {"DX de OK1XYZ:  3525  OK2ABC  Jiří, QRV 2200Z again    0815Z",
         fields("OK1XYZ", 3525, "OK2ABC", "Jiří, QRV 2200Z again", "0815")},
        {"DX de N0CALL:  14025.0  K1ABC  no time 2400Z 1260Z", ""},
        {"DX de N0CALL:  14,025.0  K1ABC  comma 1234Z", ""},
    };
    for (const auto& [line, logged] : rows) {
        EXPECT_EQ(Logged(SpotOfDxLine(line)), logged) << line;
    }
}

struct TelnetTest : ::testing::Test
{
    /// Runs the event loop until `done` holds or `limit` has passed.
    static void SpinUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < limit.count()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        }
    }
    /// Records the states `source` shows.
    void Watch(TelnetSource& source)
    {
        QObject::connect(&source, &TelnetSource::StateChanged, [this](const QString&, const QString& state) {
            states.push_back(state.toStdString());
        });
    }

    int argc = 1;
    char* argv[1] = {const_cast<char*>("telnet_tests")};
    QCoreApplication app {argc, argv};
    TempDir dir;
    ScopedEnv xdg {"XDG_CONFIG_HOME", dir.path().string()};
    ScopedCurrentDir cwd {dir.path()}; // no cty.dat: no continent is held back
    FakeFrontEnd window;
    NullPageSource pages;
    Texts states;
};

// A node that asks nothing gets the call after the wait; options are refused. The waits grow
// while the node refuses, and start again from the first after a steady connection.
TEST_F(TelnetTest, LostRefusedOrSilentLinkComesBackAfterGrowingWaits)
{
    FakeClusterNode node("\xff\xfd\x18\xff\xfb\x01");
    TelnetSource source({100ms, 400ms, 1s, 100ms, 2s});
    Watch(source);
    ASSERT_EQ(source.Start(node.url(), " N0CALL ", [](const Spot&) {}), "");
    const std::string login = "\xff\xfc\x18\xff\xfe\x01N0CALL\r\n";
    SpinUntil([&] { return node.received() == login; });
    node.send("Hello\r\n");
    SpinUntil([&] { return states.size() == 2; });
    node.listen(false);
    node.cut();
    SpinUntil([&] { return states.size() == 9; });
    node.listen(true);
    SpinUntil([&] { return node.received() == login + login; });
    node.send("Hello again\r\n");
    SpinUntil([&] { return node.received() == login + login + login; }); // silent for longer than steady
    source.Stop();
    const Texts lost = {"lost, next try in 0.1 s", "lost, next try in 0.2 s", "lost, next try in 0.4 s"};
    EXPECT_EQ(states,
              Texts({"connecting", "", lost[0], "connecting", lost[1], "connecting", lost[2], "connecting",
                     lost[2], "connecting", "", lost[0], "connecting", ""}));
}

// One Quarnel's node is the next one's source; each logs in on its node's prompt. The spot lines
// of a node reach the second one's serial line as the first one logged them, and nothing else.
TEST_F(TelnetTest, ChainOfTwoRelays)
{
    PtyPair pty;
    pty.linkAsComPort(9);
    FakeClusterNode origin("Please enter your call: ");
    QTcpServer probe; // a port free on 127.0.0.1 for the first one's node
    probe.listen(QHostAddress::LocalHost);
    const RelaySettings first {
        .URL = origin.url(), .Port = "None", .ClusterPort = probe.serverPort(), .Call = "N0CALL"};
    probe.close();
    RelaySettings second {.URL = "telnet://127.0.0.1:" + std::to_string(first.ClusterPort), .Port = "COM9"};
    ClusterNode node(first);
    SerialOutput serial(second);
    TelnetSource firstSource, secondSource;
    Watch(secondSource);
    SpotRelay firstRelay(window, first, pages, {&node}, &firstSource);
    SpotRelay secondRelay(window, second, pages, {&serial}, &secondSource);
    firstRelay.ApplySettings();
    firstRelay.ToggleRun();
    secondRelay.ToggleRun(); // without a call: a box, no connection
    EXPECT_EQ(std::tuple(window.boxes, secondRelay.IsRunning()),
              std::tuple(Texts {TelnetSource::kNoCallMessage}, false));
    second.Call = "N1CALL";
    secondRelay.ToggleRun();
    SpinUntil([&] { return states.size() == 2 && origin.received() == "N0CALL\r\n"; });
    const std::string spot = "DX de EA5WU-#:   14025.0  DL1ABC  CW 12 dB 25 WPM CQ  1234Z";
    const std::string utf8 = "DX de OK1XYZ:  3525.0  OK2ABC  Jiří QRV  0815Z JO70";
    const std::string cut
        = "DX de N0CALL:  14025.0  K1ABC  " + std::string(1100, 'x') + " 1234Z"; // over 1 KiB
    origin.send(spot + "\r\nWWV de W0MU <18>:   SFI=150, A=8, K=2\r\nTo ALL de G4ABC: QRT\r\n" + cut + "\n"
                + utf8 + "\n" + spot + "\r\nN0CALL de NODE >\r\n");
    const std::string sent = Logged(SpotOfDxLine(spot)) + "\r\n" + Logged(SpotOfDxLine(utf8)) + "\r\n";
    std::string serialLines;
    SpinUntil([&] { return (serialLines += pty.take()).size() >= sent.size(); });
    EXPECT_EQ(std::tuple(serialLines, firstRelay.LogText(), states),
              std::tuple(sent, sent, Texts {"connecting", ""}));
}

} // namespace
