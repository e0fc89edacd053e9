#include "app/relay_settings.h"
#include "net/fetch_page_detail.h"
#include "relay/curl_page_source.h"
#include "relay/spot_relay.h"
#include "support/fake_window.h"
#include "support/http_server.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

#include <chrono>
#include <string>
#include <vector>

#include <curl/curl.h>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// Northland (XA) lies in Europe; the filter below holds its spotters back.
const std::string kCountryFile
    = "Northland:                  14:  27:  EU:   52.00:   -10.00:    -1.0:   XA:\n"
      "    XA,XA5;\n";
const std::string kLineN0 = "N0CALL     14025.0 N1CALL     CQ UP 2                       1234Z";
const std::string kClusterN0
    = "DX de N0CALL:     14025.0  N1CALL      CQ UP 2                        1234Z\r\n";
const std::string kLineXA = "XA1AA       7012.5 N2ABC      TEST                          0915Z";

// The relay core, running, with the real fetch against a loopback server and a pty linked as COM9.
class RelayFetchTest : public ::testing::Test
{
protected:
    RelayFetchTest()
    {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        m_dir.write("cty.dat", kCountryFile);
        pty.linkAsComPort(9);
        relay.ToggleRun();
    }
    ~RelayFetchTest() override { curl_global_cleanup(); }

    TempDir m_dir;
    ScopedEnv m_xdg {"XDG_CONFIG_HOME", (m_dir.path() / "config").string()};
    ScopedCurrentDir m_cwd {m_dir.path()};
    PtyPair pty;
    HttpServer server;
    RelaySettings settings {.URL = server.url("/dxs/dx25.html?"), .Port = "COM9", .DxccFilter = 1}; // 1: EU
    FakeWindow window;
    CurlPageSource source {FetchLimits {.stallTimeout = std::chrono::milliseconds(2000)}};
    SpotRelay relay {window, source, settings};
};

TEST_F(RelayFetchTest, ServedSpotsReachTheSerialLineOnce)
{
    server.serve("/dxs/dx25.html", "<HTML><PRE>\r\n" + kLineN0 + "\r\n" + kLineXA + "\r\n</PRE></HTML>\r\n");
    ASSERT_TRUE(relay.IsRunning());
    relay.OnTimer();
    EXPECT_EQ(pty.read(kClusterN0.size()), kClusterN0);
    relay.OnTimer();
    EXPECT_EQ(pty.readAll(), "") << "the held-back spot and the repeated page send nothing";
    EXPECT_EQ(relay.HistoryCount(), 2);
    EXPECT_EQ(server.requestedPaths(), (std::vector<std::string> {"/dxs/dx25.html", "/dxs/dx25.html"}));
    EXPECT_TRUE(window.messages.empty() && window.errors.empty());
}

TEST_F(RelayFetchTest, MissingPageShowsItsBoxAndLogsAnInvalidPage)
{
    relay.OnTimer();
    EXPECT_EQ(window.messages, std::vector<std::string> {"Unable to locate url"});
    EXPECT_EQ(relay.HistoryAt(0), "Received unvalid page\r\n");
    EXPECT_EQ(pty.readAll(), "");
}

TEST_F(RelayFetchTest, SessionFailureShowsTheErrorBoxAndKeepsTheTimer)
{
    const auto real = fetch_detail::ReplaceCreateHandle([]() -> CURL* { return nullptr; });
    relay.OnTimer();
    fetch_detail::ReplaceCreateHandle(real);
    ASSERT_EQ(window.errors.size(), 1u);
    EXPECT_FALSE(window.errors[0].empty());
    EXPECT_TRUE(window.timerArmed);
    EXPECT_EQ(relay.HistoryCount(), 0);
}

} // namespace
