#include "cluster/cluster_node.h"
#include "cluster/node_lines.h"
#include "net/curl_page_source.h"
#include "net/fetch_page.h"
#include "relay/spot_relay.h"
#include "serial/serial_output.h"
#include "support/event_loop.h"
#include "support/fake_front_end.h"
#include "support/loopback_server.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

#include <chrono>
#include <regex>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using namespace std::literals;
using namespace testing_support;
using Texts = std::vector<std::string>;

const NetworkRuntime kNetwork;
const std::string kOk = "HTTP/1.0 200 OK\r\n\r\n";
const std::string kError = "(an error text with nothing of the body)";
const std::string kLongLine = std::string(1000, 'a') + std::string(1000, 'b') + std::string(1000, 'c');

struct FetchRow
{
    const char* name;
    LoopbackServer::Reply reply;
    std::string outcome; ///< the message in brackets, then the text returned; or kError
    std::string url = "http://127.0.0.1:#/dxs/dx25.html?"; ///< #: the server's port
    /// The one request the server gets, or its start; "": none.
    std::string request = "GET /dxs/dx25.html? HTTP/1.0\r\nHost: 127.0.0.1:#\r\n"
                          "Accept: test/*\r\nUser-Agent: Quarnel\r\n\r\n";
    bool proxy = false; ///< http_proxy names the server
    friend void PrintTo(const FetchRow& row, std::ostream* out) { *out << row.name; }
};

// Abandoned after 800 ms without a byte, 2500 ms in all, or beyond 3000 bytes of body.
const FetchRow kRows[] = {
    {"CrAndNulDropped", {{kOk + "<PRE>\r\nA\rB\0C\r\n</PRE>"s}}, "<PRE>\nABC\n</PRE>"},
    {"LongLineAtTheLimitIntact", {{kOk, kLongLine}}, kLongLine},
    {"EmptyBody", {{kOk}}, ""},
    {"NotFound", LoopbackServer::Http(404, "<PRE>\nA\n</PRE>"), "[Unable to locate url]"},
    {"BusyAsksToWait", {{"HTTP/1.0 503 Busy\r\nRetry-After: 120\r\n\r\n"}}, "[Unable to locate url]120"},
    {"FragmentGoesOut", {{kOk + "ok"}}, "ok", "http://127.0.0.1:#/dx?a#b", "GET /dx?a#b HTTP/1.0\r\n"},
    {"PathBeyond2058",
     {},
     "[Bad URL : please configure]",
     "http://127.0.0.1:#/" + std::string(2058, 'p'),
     ""},
    {"RedirectNotFollowed", {{"HTTP/1.0 302 Found\r\nLocation: /next\r\n\r\n"}}, "[Unable to locate url]"},
    {"ConnectionRefused", {}, kError, "http://127.0.0.1:1/", ""},
    {"ConnectionCutInTheBody", {{"HTTP/1.0 200 OK\r\nContent-Length: 99\r\n\r\n<PRE>\n"}}, kError},
    {"BadUrl", {}, "[Bad URL : please configure]", "127.0.0.1:#/dxs/dx25.html?", ""},
    {"FtpFetchedAsHttp", {{kOk + "ok"}}, "ok", "ftp://127.0.0.1:#/dxs/dx25.html?"},
    {"StallAbandoned", {{"", kOk + "<PRE>late"}, 3s}, kError},
    {"TrickleNotAbandoned", {{kOk + "A\n", "B\n", "C\n", "D\n", "E"}, 300ms}, "A\nB\nC\nD\nE"},
    {"TrickleGivenUpInAll",
     {{kOk + "A\n", "B\n", "C\n", "D\n", "E\n", "F\n", "G\n", "H\n", "I\n", "J"}, 300ms},
     kError},
    // A proxy is asked for the whole address, the trailing "?" kept.
    {"ProxyAskedForTheWholeAddress",
     {{kOk + "ok"}},
     "ok",
     "http://spots.invalid/dxs/dx25.html?",
     "GET http://spots.invalid:80/dxs/dx25.html? HTTP/1.0\r\nHost: spots.invalid\r\n",
     true},
    {"BodyOneByteOverTheLimit", {{kOk, "<PRE>" + kLongLine.substr(4)}}, kError},
    {"HttpsSpokenOverTls", LoopbackServer::Http(200, "<PRE>"), kError, "https://127.0.0.1:#/", "\x16"},
};

using FetchTable = ::testing::TestWithParam<FetchRow>;

TEST_P(FetchTable, ReturnsShowsAndAsks)
{
    const FetchRow& row = GetParam();
    LoopbackServer server({row.reply});
    const std::string port = std::to_string(server.port());
    const ScopedEnv proxy("http_proxy", row.proxy ? server.url("") : "");
    const FetchResult result
        = FetchPage(std::regex_replace(row.url, std::regex(":#"), ":" + port),
                    {.stallTimeout = 800ms, .totalTimeout = 2500ms, .maxBodyBytes = 3000});
    const std::string shown = result.message.empty() ? "" : "[" + result.message + "]";
    const std::string wait = result.retryAfter.count() > 0 ? std::to_string(result.retryAfter.count()) : "";
    const bool isError = !result.body && shown.empty() && !result.error.empty();
    EXPECT_EQ(row.outcome == kError && isError ? kError : shown + result.body.value_or("") + wait,
              row.outcome);
    EXPECT_EQ(result.body.has_value(), row.outcome.find_first_of("[(") == std::string::npos);
    // One request at most: a redirect is not followed. A TLS handshake is known by its first byte.
    const std::string request = std::regex_replace(row.request, std::regex(":#"), ":" + port);
    const Texts requests = server.requests();
    EXPECT_EQ(requests.size(), request.empty() ? 0u : 1u);
    EXPECT_EQ(requests.empty() ? "" : requests[0].substr(0, request.size()), request);
}

INSTANTIATE_TEST_SUITE_P(Replies, FetchTable, ::testing::ValuesIn(kRows),
                         ::testing::PrintToStringParamName());

// The relay with the real fetch on an event loop: a served page reaches the serial line; a server
// that stalls holds neither the loop nor Stop, and its late page is never processed.
struct RelayWithTheRealFetch : ::testing::Test
{
    RelayWithTheRealFetch() { pty.linkAsComPort(5); }
    EventLoop loop;
    TempDir dir;
    ScopedEnv xdg {"XDG_CONFIG_HOME", dir.path().string()};
    PtyPair pty;
    FakeFrontEnd window;
    CurlPageSource source;
    RelaySettings settings {.Port = "COM5", .ClusterPort = 0};
    SerialOutput serial {settings};
    ClusterNode node {settings};
    SpotRelay relay {window, settings, source, {&serial, &node}};
};

// One filter decision, two outputs: a logger on the cluster node gets the spot of the serial line.
TEST_F(RelayWithTheRealFetch, ServedSpotsReachTheSerialLineAndTheNode)
{
    LoopbackServer server(
        {LoopbackServer::Http(200, "<PRE>\r\nN0CALL     7012.5 N1CALL     TEST\r\n</PRE>\r\n")});
    settings.URL = server.url("/dxs/dx25.html?");
    QTcpServer probe; // a port free on 127.0.0.1 for the node
    probe.listen(QHostAddress::LocalHost);
    settings.ClusterPort = probe.serverPort();
    probe.close();
    relay.ApplySettings();
    QTcpSocket logger;
    logger.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(settings.ClusterPort));
    logger.write("DL1ABC\r\n");
    std::string received;
    SpinUntil(
        [&] { return (received += logger.readAll().toStdString()).find(" >\r\n") != std::string::npos; });
    received.clear();
    relay.ToggleRun();
    relay.OnTimer();
    const std::string sent = "DX de N0CALL:     7012.5  N1CALL     T EST Z\r\n";
    SpinUntil([&] { return (received += logger.readAll().toStdString()).find('Z') != std::string::npos; });
    // The node writes the spot in a node's columns, the time it sent it in place of the page's none.
    const std::string line = NodeSpotLine({"N0CALL", "   7012.5 ", "N1CALL     T", "EST", ""}, 0);
    EXPECT_EQ(std::pair(pty.read(sent.size()), window.boxes.size()), std::pair(sent, std::size_t {0}));
    EXPECT_TRUE(std::regex_match(received, std::regex(line.substr(0, 70) + "\\d{4}Z\r\n"))) << received;
}

TEST_F(RelayWithTheRealFetch, StallHoldsNeitherTheLoopNorStop)
{
    LoopbackServer server(
        {{{"", LoopbackServer::Http(200, "<PRE>\nN0CALL     7012.5 N1CALL\n</PRE>").pieces[0]}, 1s}});
    settings.URL = server.url("/");
    relay.ToggleRun();
    relay.OnTimer();
    bool fired = false;
    QTimer::singleShot(10, [&] { fired = true; });
    SpinUntil([&] { return fired && server.requests().size() == 1; });
    relay.OnTimer(); // while the fetch hangs: dropped, no second request
    SpinUntil([] { return false; }, 100ms);
    QElapsedTimer stop;
    stop.start();
    relay.ToggleRun();
    EXPECT_LT(stop.elapsed(), 500); // the stall would hold it for a second
    SpinUntil([] { return false; }, 1500ms); // the late page would have come meanwhile
    EXPECT_EQ(std::tuple(fired, server.requests().size(), window.logText), std::tuple(true, 1u, ""));
    EXPECT_EQ(pty.read(0, 0ms), "");
}

} // namespace
