#include "http_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

namespace testing_support {

std::string LoopbackUrl(int port, const std::string& target)
{
    return "http://127.0.0.1:" + std::to_string(port) + target;
}

struct HttpServer::Impl
{
    httplib::Server server;
    mutable std::mutex mutex;
    std::vector<std::string> paths;
};

HttpServer::HttpServer()
    : m_impl(std::make_unique<Impl>())
{
    m_impl->server.set_logger([impl = m_impl.get()](const httplib::Request& req, const httplib::Response&) {
        std::lock_guard lock(impl->mutex);
        impl->paths.push_back(req.path);
    });
    m_port = m_impl->server.bind_to_any_port("127.0.0.1");
    if (m_port <= 0) {
        throw std::runtime_error("HttpServer: bind to 127.0.0.1 failed");
    }
    m_thread = std::thread([this] { m_impl->server.listen_after_bind(); });
    // stop() is a no-op until the accept loop runs, so the destructor must not race ahead of it.
    while (!m_impl->server.is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

HttpServer::~HttpServer()
{
    m_impl->server.stop();
    m_thread.join();
}

void HttpServer::serve(const std::string& path, const std::string& body)
{
    m_impl->server.Get(path, [body](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "text/html");
    });
}

void HttpServer::serveGenerated(const std::string& path, std::size_t size)
{
    m_impl->server.Get(path, [size](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(size, "text/html",
                                 [](std::size_t, std::size_t length, httplib::DataSink& sink) {
                                     const std::string chunk(std::min<std::size_t>(length, 64 * 1024), 'x');
                                     return sink.write(chunk.data(), chunk.size());
                                 });
    });
}

std::vector<std::string> HttpServer::requestedPaths() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->paths;
}

RawServer::RawServer(Reply reply)
    : m_reply(std::move(reply))
    , m_listen(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in addr {
        .sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    socklen_t len = sizeof addr;
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&addr), len) != 0
        || getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || listen(m_listen, 16) != 0
        || pipe2(m_stopPipe, O_CLOEXEC) != 0) {
        close(m_listen);
        throw std::runtime_error("RawServer: cannot listen on 127.0.0.1");
    }
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] {
        while (waitReadable(m_listen, std::chrono::hours(1))) {
            if (const int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC); fd >= 0) {
                serveConnection(fd);
            }
        }
    });
}

RawServer::~RawServer()
{
    static_cast<void>(write(m_stopPipe[1], "", 1));
    m_thread.join();
    close(m_listen);
    close(m_stopPipe[0]);
    close(m_stopPipe[1]);
}

std::vector<std::string> RawServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

bool RawServer::waitReadable(int fd, std::chrono::milliseconds timeout) const
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
    return poll(fds, 2, static_cast<int>(timeout.count())) > 0 && (fds[1].revents & POLLIN) == 0
        && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

void RawServer::serveConnection(int fd)
{
    std::string received;
    char buffer[4096];
    ssize_t n = 0;
    while (received.find("\r\n\r\n") == std::string::npos && waitReadable(fd, std::chrono::seconds(1))
           && (n = recv(fd, buffer, sizeof buffer, 0)) > 0) {
        received.append(buffer, static_cast<std::size_t>(n));
    }
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(received);
    }
    for (std::size_t i = 0; i < m_reply.pieces.size(); ++i) {
        pollfd stop {m_stopPipe[0], POLLIN, 0};
        const std::string& piece = m_reply.pieces[i];
        // A blocking send queues the whole piece unless the peer has gone.
        if ((i > 0 && poll(&stop, 1, static_cast<int>(m_reply.pause.count())) > 0)
            || send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(piece.size())) {
            break;
        }
    }
    if (m_reply.end == End::Stall) {
        while (waitReadable(fd, std::chrono::hours(1)) && recv(fd, buffer, sizeof buffer, 0) > 0) { }
    } else if (m_reply.end == End::Reset) {
        const linger abortive {1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    }
    close(fd);
}

} // namespace testing_support
