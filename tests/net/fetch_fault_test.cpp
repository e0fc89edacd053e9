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
using End = RawServer::End;
using namespace std::chrono_literals;

namespace {

constexpr auto kStall = 700ms;
constexpr const char* kStallText = "no data received";
constexpr const char* kLimitText = "Maximum file size";
const std::string kPartial = "HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n<PRE>\npartial";

struct Servers
{
    HttpServer http;
    std::unique_ptr<RawServer> raw;

    std::string rawUrl(const RawServer::Reply& reply)
    {
        raw = std::make_unique<RawServer>(reply);
        return raw->url("/dxs/dx25.html?");
    }
};

// A server or network fault and what the fetch makes of it: an error text holding `textHas`, or
// for `noPage` the box "Unable to locate url" and "".
struct FaultRow
{
    const char* name;
    std::function<std::string(Servers&)> start; ///< brings the fault up, returns the URL
    bool noPage = false;
    const char* textHas = "";
    std::size_t maxBodyBytes = 20000;
};

void PrintTo(const FaultRow& row, std::ostream* out)
{
    *out << row.name;
}

FaultRow RawFault(const char* name, const RawServer::Reply& reply, bool noPage, const char* textHas = "")
{
    return {name, [reply](Servers& servers) { return servers.rawUrl(reply); }, noPage, textHas};
}

class FaultTest : public ::testing::TestWithParam<FaultRow>
{
};

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultTest,
    ::testing::Values(
        FaultRow {"PortRefused",
                  [](Servers&) {
                      return "http://127.0.0.1:" + std::to_string(testing_support::UnusedLoopbackPort());
                  }},
        FaultRow {"HostUnresolvable", [](Servers&) { return std::string("http://no-such-host.invalid/x"); },
                  false, "no-such-host.invalid"},
        RawFault("ClosedWithoutAnswer", {}, false), RawFault("ClosedMidBody", {{kPartial}}, false),
        RawFault("ResetMidBody", {{kPartial}, 0ms, End::Reset}, false),
        RawFault("StallsBeforeAnswer", {{}, 0ms, End::Stall}, false, kStallText),
        RawFault("StallsMidBody", {{kPartial}, 0ms, End::Stall}, false, kStallText),
        RawFault("UnannouncedBodyOverLimit", {{"HTTP/1.0 200 OK\r\n\r\n<PRE>\n", std::string(30000, 'x')}},
                 false, kLimitText),
        FaultRow {"FiftyMiBOverDefaultLimit",
                  [](Servers& servers) {
                      servers.http.serveGenerated("/huge", 50u * 1024u * 1024u);
                      return servers.http.url("/huge");
                  },
                  false, kLimitText, FetchLimits {}.maxBodyBytes},
        RawFault("GarbageNotHttp", {{"\x16\x03\x01 garbage <PRE>\nA\n</PRE>\n"}}, true),
        // The redirect's body never comes: only a fetch that reads it would wait.
        FaultRow {"RedirectNotFollowed",
                  [](Servers& servers) {
                      return servers.rawUrl(
                          {{"HTTP/1.0 302 Found\r\nLocation: " + servers.http.url("/next") + "\r\n\r\n"},
                           0ms,
                           End::Stall});
                  },
                  true}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_P(FaultTest, GivesItsResultAndTheNextFetchWorks)
{
    Servers servers;
    std::vector<std::string> messages;
    const auto show = [&messages](const std::string& text) { messages.push_back(text); };
    const std::string url = GetParam().start(servers);
    const FetchLimits limits {.stallTimeout = kStall, .maxBodyBytes = GetParam().maxBodyBytes};

    const auto started = std::chrono::steady_clock::now();
    const std::string result = FetchPage(url, show, limits);
    const auto elapsed = std::chrono::steady_clock::now() - started;

    if (GetParam().noPage) {
        EXPECT_EQ(result, "");
        EXPECT_EQ(messages, std::vector<std::string> {"Unable to locate url"});
    } else {
        EXPECT_NE(result.find(GetParam().textHas), std::string::npos) << result;
        EXPECT_FALSE(result.empty());
        EXPECT_EQ(result.find("partial"), std::string::npos) << "partial body kept";
        EXPECT_EQ(result.find("xxxxx"), std::string::npos) << "partial body kept";
        EXPECT_TRUE(messages.empty()) << messages.front();
    }
    EXPECT_EQ(servers.http.hits("/next"), 0) << "redirect followed";
    // A stalled server is abandoned at the stall time-out, neither earlier nor at a later default.
    if (GetParam().textHas == kStallText) {
        EXPECT_GE(elapsed, kStall);
    }
    EXPECT_LT(elapsed, 10s) << result;

    servers.http.serve("/next", "<PRE>\nnext\n</PRE>\n");
    messages.clear();
    EXPECT_EQ(FetchPage(servers.http.url("/next"), show, limits), "<PRE>\nnext\n</PRE>\n");
    EXPECT_TRUE(messages.empty());
}

TEST(FetchConnectTest, ConnectPhaseHasItsOwnTimeOutNotTheStallOne)
{
    // A listener whose accept queue is full: the kernel drops further SYNs, so a connect hangs.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr {
        .sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), len), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    int fillers[2];
    for (int& filler : fillers) {
        filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(filler, reinterpret_cast<sockaddr*>(&addr), len);
    }

    const FetchLimits limits {.connectTimeout = 1500ms, .stallTimeout = 200ms};
    const auto started = std::chrono::steady_clock::now();
    const std::string result
        = FetchPage("http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/", {}, limits);
    EXPECT_GE(std::chrono::steady_clock::now() - started, limits.connectTimeout) << result;
    EXPECT_NE(result.find("Timeout"), std::string::npos) << result;

    for (const int fd : {fillers[0], fillers[1], listener}) {
        close(fd);
    }
}

} // namespace
