#include "net/fetch_page.h"
#include "net/fetch_page_detail.h"
#include "support/http_server.h"

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include <curl/curl.h>
#include <gtest/gtest.h>

using testing_support::HttpServer;
using testing_support::RawServer;

namespace {

template <typename Row> std::string RowName(const ::testing::TestParamInfo<Row>& row)
{
    return row.param.name;
}

// The program initialises libcurl once in main(); the tests do the same.
class CurlEnvironment : public ::testing::Environment
{
public:
    void SetUp() override { ASSERT_EQ(curl_global_init(CURL_GLOBAL_DEFAULT), CURLE_OK); }
    void TearDown() override { curl_global_cleanup(); }
};
const auto* const curlEnvironment = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

class FetchTest : public ::testing::Test
{
protected:
    std::string fetch(const std::string& url, const FetchLimits& limits = {})
    {
        return FetchPage(
            url, [this](const std::string& text) { messages.push_back(text); }, limits);
    }

    HttpServer server;
    std::vector<std::string> messages;
};

// A response body and what the fetch makes of it.
struct BodyRow
{
    const char* name;
    std::string body;
    std::string expected;
};

// Rows print as their names, so the test list stays readable.
void PrintTo(const BodyRow& row, std::ostream* out)
{
    *out << row.name;
}

class BodyShapeTest : public FetchTest, public ::testing::WithParamInterface<BodyRow>
{
};

std::string Digits(std::size_t n)
{
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        text += static_cast<char>('0' + i % 10);
    }
    return text;
}

const std::string kLongLine = Digits(3000);

INSTANTIATE_TEST_SUITE_P(
    Bodies, BodyShapeTest,
    ::testing::Values(BodyRow {"CrLfBecomesLf", "<PRE>\r\nA\r\nB</PRE>\r\n", "<PRE>\nA\nB</PRE>\n"},
                      BodyRow {"LoneCrRemoved", "A\rB\n", "AB\n"},
                      BodyRow {"LongLineUnchanged", kLongLine, kLongLine},
                      BodyRow {"CrsAroundPieceEnd", std::string(1021, 'a') + "\r\r\rb\r\n" + kLongLine,
                               std::string(1021, 'a') + "b\n" + kLongLine},
                      BodyRow {"NulDroppedAlone", std::string("AB\0CD\nEF", 8), "ABCD\nEF"},
                      BodyRow {"HighAndControlBytesKept", "\x01\x7f\x80\xff\t\n", "\x01\x7f\x80\xff\t\n"},
                      BodyRow {"EmptyBody", "", ""}),
    RowName<BodyRow>);

TEST_P(BodyShapeTest, StatusOkBodyComesBackWithoutCrAndNul)
{
    server.serve("/page.html", GetParam().body);
    EXPECT_EQ(fetch(server.url("/page.html")), GetParam().expected);
    EXPECT_TRUE(messages.empty());
}

class StatusTest : public FetchTest, public ::testing::WithParamInterface<int>
{
};

INSTANTIATE_TEST_SUITE_P(Statuses, StatusTest, ::testing::Values(404, 302, 301, 500, 204));

TEST_P(StatusTest, OtherThan200ShowsMessageAndReadsNothing)
{
    server.serve("/target", "<PRE>\nnot this\n</PRE>\n");
    server.redirect("/page.html", server.url("/target"), GetParam());
    EXPECT_EQ(fetch(server.url("/page.html")), "");
    EXPECT_EQ(messages, std::vector<std::string> {"Unable to locate url"});
    EXPECT_EQ(server.hits("/target"), 0);
}

class BadUrlTest : public FetchTest, public ::testing::WithParamInterface<const char*>
{
};

INSTANTIATE_TEST_SUITE_P(Texts, BadUrlTest,
                         ::testing::Values("", "www.example.com/x", "http://", "  \t ", "file:///etc/passwd",
                                           "http://h:99999/"));

TEST_P(BadUrlTest, ShowsBadUrlAndReturnsEmpty)
{
    EXPECT_EQ(fetch(GetParam()), "");
    EXPECT_EQ(messages, std::vector<std::string> {"Bad URL : please configure"});
}

// What a server receives for a given address.
struct RequestRow
{
    const char* name;
    std::string url; ///< "PORT" stands for the server's port
    std::string target; ///< expected request target
};

void PrintTo(const RequestRow& row, std::ostream* out)
{
    *out << row.name;
}

class RequestTest : public FetchTest, public ::testing::WithParamInterface<RequestRow>
{
};

INSTANTIATE_TEST_SUITE_P(
    Addresses, RequestTest,
    ::testing::Values(
        RequestRow {"TrailingQuestionMarkKept", "http://127.0.0.1:PORT/dxs/dx25.html?", "/dxs/dx25.html?"},
        RequestRow {"UnsafeBytesEncoded", " http://127.0.0.1:PORT/my page/dx 25\xc3\xa4.html?a b#top ",
                    "/my%20page/dx%2025%c3%a4.html?a%20b"},
        RequestRow {"FtpFetchedAsHttp", "ftp://127.0.0.1:PORT/dxs/x.html", "/dxs/x.html"},
        RequestRow {"UnknownSchemeFetchedAsHttp", "dx://127.0.0.1:PORT/", "/"},
        RequestRow {"NoPathAsksForRoot", "HTTP://127.0.0.1:PORT", "/"}),
    RowName<RequestRow>);

int CountHeader(const std::string& request, const std::string& name)
{
    int count = 0;
    for (std::size_t pos = request.find("\r\n"); pos != std::string::npos;
         pos = request.find("\r\n", pos + 2)) {
        count += strncasecmp(request.c_str() + pos + 2, (name + ":").c_str(), name.size() + 1) == 0;
    }
    return count;
}

TEST_P(RequestTest, SendsOneHttp10GetWithOwnHeaders)
{
    RawServer raw({{"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"}});
    std::string url = GetParam().url;
    url.replace(url.find("PORT"), 4, std::to_string(raw.port()));

    EXPECT_EQ(fetch(url), "ok");
    const auto requests = raw.requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string& request = requests[0];
    EXPECT_EQ(request.substr(0, request.find("\r\n")), "GET " + GetParam().target + " HTTP/1.0");
    EXPECT_NE(request.find("\r\nHost: 127.0.0.1:" + std::to_string(raw.port()) + "\r\n"), std::string::npos);
    EXPECT_NE(request.find("\r\nAccept: test/*\r\n"), std::string::npos);
    EXPECT_NE(request.find("\r\nUser-Agent: Quarnel\r\n"), std::string::npos);
    EXPECT_EQ(CountHeader(request, "Host"), 1);
    EXPECT_EQ(CountHeader(request, "Accept"), 1);
    EXPECT_EQ(CountHeader(request, "User-Agent"), 1);
    EXPECT_TRUE(request.ends_with("\r\n\r\n")) << "no body";
}

TEST_F(FetchTest, SessionFailureLeavesTheFetchAndTheNextOneWorks)
{
    const auto real = fetch_detail::ReplaceCreateHandle([]() -> CURL* { return nullptr; });
    EXPECT_THROW(static_cast<void>(fetch("http://127.0.0.1/")), FetchSessionError);
    fetch_detail::ReplaceCreateHandle(real);
    EXPECT_TRUE(messages.empty());

    server.serve("/", "fine");
    EXPECT_EQ(fetch(server.url("/")), "fine");
}

TEST_F(FetchTest, BodyUpToTheLimitIsRead)
{
    server.serveGenerated("/big", 5000);
    EXPECT_EQ(fetch(server.url("/big"), FetchLimits {.maxBodyBytes = 5000}), std::string(5000, 'x'));
}

TEST_F(FetchTest, ByteTrickleFasterThanStallTimeoutIsNotAbandoned)
{
    RawServer raw({{"HTTP/1.0 200 OK\r\n\r\n", "A\n", "B\n", "C\n", "D"}, std::chrono::milliseconds(300)});
    EXPECT_EQ(fetch(raw.url("/"), FetchLimits {.stallTimeout = std::chrono::milliseconds(1000)}),
              "A\nB\nC\nD");
}

} // namespace
