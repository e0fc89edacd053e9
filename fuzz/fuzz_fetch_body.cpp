// HTTP bodies from the outside: a loopback server answers every request with status 200 and the
// fuzzed bytes, then closes. FetchPage must hand back exactly those bytes with every CR and NUL
// removed, show no message, and never crash or hang.

#include "fuzz_common.h"
#include "net/fetch_page.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <curl/curl.h>

namespace {

// One connection at a time, answered with whatever body the current input holds.
class LoopbackServer
{
public:
    LoopbackServer()
    {
        m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0
            || listen(m_listener, 16) != 0
            || getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            fuzzing::Fail("cannot listen on 127.0.0.1");
        }
        m_port = ntohs(address.sin_port);
        std::thread([this] { Serve(); }).detach();
    }

    [[nodiscard]] int port() const { return m_port; }

    void SetBody(std::string body)
    {
        std::lock_guard lock(m_mutex);
        m_body = std::move(body);
    }

    [[nodiscard]] int requests() const { return m_requests.load(); }

private:
    void Serve()
    {
        for (;;) {
            const int client = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                continue;
            }
            Answer(client);
            close(client);
        }
    }

    void Answer(int client)
    {
        // Read the whole request first, so that closing afterwards cannot reset the connection
        // before the client has read the answer.
        std::string request;
        char chunk[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = recv(client, chunk, sizeof chunk, 0);
            if (n <= 0) {
                return;
            }
            request.append(chunk, static_cast<std::size_t>(n));
        }
        ++m_requests;
        std::string answer = "HTTP/1.0 200 OK\r\n\r\n";
        {
            std::lock_guard lock(m_mutex);
            answer += m_body;
        }
        std::size_t sent = 0;
        while (sent < answer.size()) {
            const ssize_t n = send(client, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return;
            }
            sent += static_cast<std::size_t>(n);
        }
        shutdown(client, SHUT_WR);
    }

    int m_listener = -1;
    int m_port = 0;
    std::mutex m_mutex;
    std::string m_body;
    std::atomic<int> m_requests {0};
};

LoopbackServer* g_server = nullptr;
std::string g_url;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    g_server = new LoopbackServer;
    g_url = "http://127.0.0.1:" + std::to_string(g_server->port()) + "/dxs/dx25.html?";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string body(reinterpret_cast<const char*>(data), size);
    g_server->SetBody(body);

    std::string expected;
    for (const char c : body) {
        if (c != '\r' && c != '\0') {
            expected += c;
        }
    }

    FetchLimits limits;
    limits.connectTimeout = std::chrono::milliseconds(5000);
    limits.stallTimeout = std::chrono::milliseconds(5000);
    std::vector<std::string> messages;
    const int requestsBefore = g_server->requests();
    const std::string result = FetchPage(
        g_url, [&](const std::string& text) { messages.push_back(text); }, limits);

    FUZZ_CHECK(g_server->requests() == requestsBefore + 1, "expected exactly one request");
    FUZZ_CHECK(messages.empty(), "a status-200 answer showed the message '" + messages.front() + "'");
    FUZZ_CHECK(result == expected,
               "body '" + fuzzing::Escaped(body) + "'\nexpected '" + fuzzing::Escaped(expected)
                   + "'\nreturned '" + fuzzing::Escaped(result) + "'");
    return 0;
}
