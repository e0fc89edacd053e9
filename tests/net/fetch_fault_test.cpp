#include "net/fetch_page.h"
#include "support/http_server.h"

#include <arpa/inet.h>
#include <chrono>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <ostream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

using testing_support::HttpServer;
using testing_support::RawServer;
using namespace std::chrono_literals;

namespace {

template <typename Row> std::string RowName(const ::testing::TestParamInfo<Row>& row)
{
    return row.param.name;
}

constexpr auto kStall = 700ms;

enum class Outcome
{
    ErrorText, ///< the client's error text comes back, no box
    NoPage, ///< "Unable to locate url", "" comes back
};

// A server or network fault, how to reach it, and what the fetch makes of it.
struct FaultRow
{
    const char* name;
    std::function<std::string(std::unique_ptr<RawServer>&, HttpServer&)> start; ///< returns the URL
    Outcome outcome;
    const char* textHas = ""; ///< a part of the error text that tells the cause
    std::size_t maxBodyBytes = 20000;
};

void PrintTo(const FaultRow& row, std::ostream* out)
{
    *out << row.name;
}

std::string Raw(std::unique_ptr<RawServer>& raw, RawServer::Reply reply)
{
    raw = std::make_unique<RawServer>(std::move(reply));
    return raw->url("/dxs/dx25.html?");
}

const std::string kPartial = "HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n<PRE>\npartial";

class FaultTest : public ::testing::TestWithParam<FaultRow>
{
};

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultTest,
    ::testing::Values(
        FaultRow {"PortRefused",
                  [](auto&, auto&) {
                      return "http://127.0.0.1:" + std::to_string(testing_support::UnusedLoopbackPort());
                  },
                  Outcome::ErrorText},
        FaultRow {"HostUnresolvable",
                  [](auto&, auto&) { return std::string("http://no-such-host.invalid/x"); },
                  Outcome::ErrorText, "no-such-host.invalid"},
        FaultRow {"ClosedWithoutAnswer", [](auto& raw, auto&) { return Raw(raw, {}); }, Outcome::ErrorText},
        FaultRow {"ClosedMidBody", [](auto& raw, auto&) { return Raw(raw, {{kPartial}}); },
                  Outcome::ErrorText},
        FaultRow {"ResetMidBody",
                  [](auto& raw, auto&) {
                      return Raw(raw, {{kPartial}, 0ms, RawServer::End::Reset});
                  },
                  Outcome::ErrorText},
        FaultRow {"StallsBeforeAnswer",
                  [](auto& raw, auto&) {
                      return Raw(raw, {{}, 0ms, RawServer::End::Stall});
                  },
                  Outcome::ErrorText, "no data received"},
        FaultRow {"StallsMidBody",
                  [](auto& raw, auto&) {
                      return Raw(raw, {{kPartial}, 0ms, RawServer::End::Stall});
                  },
                  Outcome::ErrorText, "no data received"},
        FaultRow {"UnannouncedBodyOverLimit",
                  [](auto& raw, auto&) {
                      return Raw(raw, {{"HTTP/1.0 200 OK\r\n\r\n<PRE>\n", std::string(30000, 'x')}});
                  },
                  Outcome::ErrorText, "Maximum file size"},
        FaultRow {"FiftyMiBOverDefaultLimit",
                  [](auto&, HttpServer& http) {
                      http.serveGenerated("/huge", 50u * 1024u * 1024u);
                      return http.url("/huge");
                  },
                  Outcome::ErrorText, "Maximum file size", FetchLimits {}.maxBodyBytes},
        FaultRow {"GarbageNotHttp",
                  [](auto& raw, auto&) { return Raw(raw, {{"\x16\x03\x01 garbage <PRE>\nA\n</PRE>\n"}}); },
                  Outcome::NoPage},
        FaultRow {"RedirectNotFollowed",
                  [](auto& raw, HttpServer& http) {
                      // The body never comes: only a fetch that reads it would wait.
                      return Raw(raw,
                                 {{"HTTP/1.0 302 Found\r\nLocation: " + http.url("/next") + "\r\n\r\n"},
                                  0ms,
                                  RawServer::End::Stall});
                  },
                  Outcome::NoPage}),
    RowName<FaultRow>);

TEST_P(FaultTest, GivesItsResultAndTheNextFetchWorks)
{
    HttpServer http;
    std::unique_ptr<RawServer> raw;
    std::vector<std::string> messages;
    const auto show = [&messages](const std::string& text) { messages.push_back(text); };
    const std::string url = GetParam().start(raw, http);
    const FetchLimits limits {.stallTimeout = kStall, .maxBodyBytes = GetParam().maxBodyBytes};

    const auto started = std::chrono::steady_clock::now();
    const std::string result = FetchPage(url, show, limits);
    const auto elapsed = std::chrono::steady_clock::now() - started;

    if (GetParam().outcome == Outcome::ErrorText) {
        EXPECT_FALSE(result.empty());
        EXPECT_NE(result.find(GetParam().textHas), std::string::npos) << result;
        EXPECT_EQ(result.find("partial"), std::string::npos) << "partial body must be dropped";
        EXPECT_EQ(result.find("xxxxx"), std::string::npos) << "partial body must be dropped";
        EXPECT_LE(result.size(), 1022u);
        EXPECT_TRUE(messages.empty()) << messages.front();
    } else {
        EXPECT_EQ(result, "");
        EXPECT_EQ(messages, std::vector<std::string> {"Unable to locate url"});
    }
    EXPECT_EQ(http.hits("/next"), 0) << "redirect followed";
    // Stalled servers are abandoned at the stall time-out, not at some later default.
    EXPECT_LT(elapsed, 10s) << result;

    http.serve("/next", "<PRE>\nnext\n</PRE>\n");
    messages.clear();
    EXPECT_EQ(FetchPage(http.url("/next"), show, limits), "<PRE>\nnext\n</PRE>\n");
    EXPECT_TRUE(messages.empty());
}

TEST(FetchStallTest, StallIsDetectedNoEarlierThanItsTimeOut)
{
    RawServer raw({{kPartial}, 0ms, RawServer::End::Stall});
    const auto started = std::chrono::steady_clock::now();
    const std::string result = FetchPage(raw.url("/"), {}, FetchLimits {.stallTimeout = kStall});
    EXPECT_GE(std::chrono::steady_clock::now() - started, kStall);
    EXPECT_NE(result.find("no data received"), std::string::npos) << result;
}

// A listener whose accept queue is full: the kernel drops further SYNs, so a connect hangs.
class FullBacklogListener
{
public:
    FullBacklogListener()
    {
        m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(m_listener, 0);
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
        for (int& filler : m_fillers) {
            filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            connect(filler, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        }
    }
    ~FullBacklogListener()
    {
        for (const int filler : m_fillers) {
            close(filler);
        }
        close(m_listener);
    }

    int port = 0;

private:
    int m_listener = -1;
    int m_fillers[2] = {-1, -1};
};

TEST(FetchConnectTest, ConnectPhaseHasItsOwnTimeOutNotTheStallOne)
{
    FullBacklogListener listener;
    const FetchLimits limits {.connectTimeout = 1500ms, .stallTimeout = 200ms};
    const auto started = std::chrono::steady_clock::now();
    const std::string result
        = FetchPage("http://127.0.0.1:" + std::to_string(listener.port) + "/", {}, limits);
    EXPECT_GE(std::chrono::steady_clock::now() - started, limits.connectTimeout) << result;
    EXPECT_NE(result.find("Timeout"), std::string::npos) << result;
}

} // namespace
