#include "net/fetch_page.h"
#include "net/fetch_page_detail.h"
#include "support/http_server.h"

#include <chrono>
#include <memory>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <httplib.h>

using namespace testing_support;
using namespace std::chrono_literals;
using End = RawServer::End;
using Texts = std::vector<std::string>;

namespace {

const FetchLimits kLimits {.stallTimeout = 700ms, .maxBodyBytes = 5000};
constexpr const char* kNoPage = "Unable to locate url";
constexpr const char* kBadUrl = "Bad URL : please configure";
constexpr const char* kStalled = "no data received";
constexpr const char* kTooBig = "Maximum file size";
const std::string kOverLimit(kLimits.maxBodyBytes + 1, 'x');
const std::string kLongLine = std::string(1000, 'a') + std::string(1000, 'b') + std::string(1000, 'c');
const std::string kRaw = "http://127.0.0.1:PORT/dxs/dx25.html?";
const std::string kPartial = "HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n<PRE>\npartial";

class FetchTest : public ::testing::Test
{
public:
    FetchTest() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~FetchTest() override { curl_global_cleanup(); }

    std::string fetch(const std::string& url, const FetchLimits& limits = kLimits)
    {
        return FetchPage(
            url, [this](const std::string& text) { messages.push_back(text); }, limits);
    }
    // Starts a raw server giving `reply`; returns `url` with PORT replaced by its port.
    std::string rawUrl(const RawServer::Reply& reply, std::string url = kRaw)
    {
        raw = std::make_unique<RawServer>(reply);
        const auto at = url.find("PORT");
        return at == std::string::npos ? url : url.replace(at, 4, std::to_string(raw->port()));
    }

    HttpServer http;
    std::unique_ptr<RawServer> raw;
    Texts messages;
};

template <typename Row> class TableTest : public FetchTest, public ::testing::WithParamInterface<Row>
{
};

// A 200 answer's body, the address asked for ("PORT": the server's) and the target the server must see.
struct PageRow
{
    const char* name;
    std::string body;
    std::string expected;
    std::string url = kRaw;
    std::string target = "/dxs/dx25.html?";
    friend void PrintTo(const PageRow& row, std::ostream* out) { *out << row.name; }
};
using PageTest = TableTest<PageRow>;

const PageRow kPages[] = {
    {"CrLfBecomesLf", "<PRE>\r\nA\r\nB</PRE>\r\n", "<PRE>\nA\nB</PRE>\n"},
    {"LoneCrRemoved", "A\rB\n", "AB\n"},
    {"LongLineUnchanged", kLongLine, kLongLine},
    {"CrsAroundPieceEnd", std::string(1021, 'a') + "\r\r\rb\r\n" + kLongLine,
     std::string(1021, 'a') + "b\n" + kLongLine},
    {"NulDroppedAlone", std::string("AB\0CD\nEF", 8), "ABCD\nEF"},
    {"HighAndControlBytesKept", "\x01\x7f\x80\xff\t\n", "\x01\x7f\x80\xff\t\n"},
    {"EmptyBody", "", ""},
    {"BodyAtLimitRead", std::string(5000, 'x'), std::string(5000, 'x')},
    {"SpacesEncoded", "ok", "ok", " http://127.0.0.1:PORT/my page/dx 25.html?a b ",
     "/my%20page/dx%2025.html?a%20b"},
    {"FtpFetchedAsHttp", "ok", "ok", "ftp://127.0.0.1:PORT/dxs/x.html", "/dxs/x.html"},
    {"NoPathAsksForRoot", "ok", "ok", "HTTP://127.0.0.1:PORT", "/"},
};
INSTANTIATE_TEST_SUITE_P(Pages, PageTest, ::testing::ValuesIn(kPages),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_P(PageTest, OneHttp10GetWithOwnHeadersReadsTheBodyWithoutCrAndNul)
{
    const std::string& body = GetParam().body;
    const std::string header
        = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    EXPECT_EQ(fetch(rawUrl({{header + body}}, GetParam().url)), GetParam().expected);
    const std::string port = std::to_string(raw->port());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(raw->requests(),
              Texts {"GET " + GetParam().target + " HTTP/1.0\r\nHost: 127.0.0.1:" + port
                     + "\r\nAccept: test/*\r\nUser-Agent: Quarnel\r\n\r\n"});
}

// A fault, the address asked for (PORT: a raw server's giving `reply`) and the result: the box `box` and "",
// or else an error text holding `textHas`.
struct FaultRow
{
    const char* name;
    std::string url;
    RawServer::Reply reply;
    const char* box = nullptr;
    const char* textHas = "";
    friend void PrintTo(const FaultRow& row, std::ostream* out) { *out << row.name; }
};
using FaultTest = TableTest<FaultRow>;

const FaultRow kFaults[] = {
    {"BadUrlEmpty", "", {}, kBadUrl},
    {"BadUrlWithoutScheme", "www.example.com/x", {}, kBadUrl},
    {"BadUrlWithoutHost", "http://", {}, kBadUrl},
    {"BadUrlBlank", "  \t ", {}, kBadUrl},
    {"BadUrlFileScheme", "file:///etc/passwd", {}, kBadUrl},
    {"BadUrlPort", "http://h:99999/", {}, kBadUrl},
    {"PortRefused", LoopbackUrl(RawServer({}).port(), "/"), {}},
    {"HostUnresolvable", "http://no-such-host.invalid/x", {}, nullptr, "no-such-host.invalid"},
    {"NotFound", kRaw, {{"HTTP/1.0 404 Not Found\r\n\r\n<PRE>\nA\n</PRE>\n"}}, kNoPage},
    // The redirect's body never comes: a fetch that read it would stall instead.
    {"RedirectNotFollowed",
     kRaw,
     {{"HTTP/1.0 302 Found\r\nLocation: /next\r\n\r\n"}, 0ms, End::Stall},
     kNoPage},
    {"Status500", kRaw, {{"HTTP/1.0 500 Oops\r\n\r\n<PRE>\nA\n</PRE>\n"}}, kNoPage},
    {"GarbageNotHttp", kRaw, {{"\x16\x03\x01 garbage <PRE>\nA\n</PRE>\n"}}, kNoPage},
    {"ClosedWithoutAnswer", kRaw, {}},
    {"ClosedMidBody", kRaw, {{kPartial}}},
    {"ResetMidBody", kRaw, {{kPartial}, 0ms, End::Reset}},
    {"StallsBeforeAnswer", kRaw, {{}, 0ms, End::Stall}, nullptr, kStalled},
    {"StallsMidBody", kRaw, {{kPartial}, 0ms, End::Stall}, nullptr, kStalled},
    {"UnannouncedBodyOverLimit", kRaw, {{"HTTP/1.0 200 OK\r\n\r\n", kOverLimit}}, nullptr, kTooBig},
    {"HttpsNotSentAsPlainHttp", "https://127.0.0.1:PORT/", {{"HTTP/1.0 200 OK\r\n\r\n<PRE>\npartial\n"}}},
};
INSTANTIATE_TEST_SUITE_P(Faults, FaultTest, ::testing::ValuesIn(kFaults),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_P(FaultTest, GivesItsResultAndTheNextFetchWorks)
{
    const std::string url = rawUrl(GetParam().reply, GetParam().url);
    const auto started = std::chrono::steady_clock::now();
    const std::string result = fetch(url);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_LE(raw->requests().size(), 1u) << "a retry or a redirect followed";

    if (GetParam().box) {
        EXPECT_EQ(result, "");
        EXPECT_EQ(messages, Texts {GetParam().box});
    } else {
        EXPECT_NE(result.find(GetParam().textHas), std::string::npos) << result;
        EXPECT_FALSE(result.empty());
        EXPECT_EQ(result.find("partial"), std::string::npos) << "partial body kept";
        EXPECT_TRUE(messages.empty()) << messages.front();
    }
    // A stalled server is abandoned at the stall time-out, neither earlier nor at a later default.
    EXPECT_GE(elapsed, std::string_view(GetParam().textHas) == kStalled ? kLimits.stallTimeout : 0ms);
    EXPECT_LT(elapsed, 10s) << result;

    http.serve("/next", "<PRE>\nnext\n</PRE>\n");
    messages.clear();
    EXPECT_EQ(fetch(http.url("/next")), "<PRE>\nnext\n</PRE>\n");
    EXPECT_TRUE(messages.empty());
}

TEST_F(FetchTest, FiftyMiBAnswerIsCutAtTheRealLimitAndTheNextFetchWorks)
{
    http.serveGenerated("/huge", 50u << 20);
    http.serve("/next", "next");
    EXPECT_NE(fetch(http.url("/huge"), {}).find(kTooBig), std::string::npos);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(fetch(http.url("/next")), "next");
}

TEST_F(FetchTest, TrickleFasterThanTheStallTimeOutIsNotAbandoned)
{
    EXPECT_EQ(fetch(rawUrl({{"HTTP/1.0 200 OK\r\n\r\n", "A\n", "B\n", "C\n", "D"}, 250ms})), "A\nB\nC\nD");
}

TEST_F(FetchTest, SessionFailureThrowsAndTheNextFetchWorks)
{
    const auto real = fetch_detail::ReplaceCreateHandle([]() -> CURL* { return nullptr; });
    EXPECT_THROW(static_cast<void>(fetch("http://127.0.0.1/")), FetchSessionError);
    fetch_detail::ReplaceCreateHandle(real);
    EXPECT_TRUE(messages.empty());
    http.serve("/", "fine");
    EXPECT_EQ(fetch(http.url("/")), "fine");
}

TEST_F(FetchTest, UntrustedCertificateIsRefusedBeforeAnyRequest)
{
    // Signed by itself for 127.0.0.1: no system store trusts it.
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key {EVP_EC_gen("P-256"), &EVP_PKEY_free};
    std::unique_ptr<X509, decltype(&X509_free)> cert {X509_new(), &X509_free};
    ASSERT_TRUE(key && cert);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"),
                               -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key.get());
    X509_sign(cert.get(), key.get(), EVP_sha256());

    httplib::SSLServer server(cert.get(), key.get());
    server.Get("/", [](const auto&, auto& res) { res.set_content("<PRE>\nsecret\n</PRE>\n", "text/html"); });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread thread([&server] { server.listen_after_bind(); });
    while (!server.is_running()) {
        std::this_thread::yield();
    }
    const std::string result = fetch("https://127.0.0.1:" + std::to_string(port) + "/");
    server.stop();
    thread.join();
    EXPECT_NE(result.find("certificate"), std::string::npos) << result;
    EXPECT_TRUE(messages.empty());
}

} // namespace
