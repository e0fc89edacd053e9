#include "http_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

namespace testing_support {

namespace {

int BindLoopback(int& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
        || getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(fd);
        throw std::runtime_error("bind to 127.0.0.1 failed");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

bool SendAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string LoopbackUrl(int port, const std::string& target)
{
    return "http://127.0.0.1:" + std::to_string(port) + target;
}

} // namespace

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

void HttpServer::serve(const std::string& path, const std::string& body, int status,
                       const std::string& contentType)
{
    m_impl->server.Get(path, [body, status, contentType](const httplib::Request&, httplib::Response& res) {
        res.status = status;
        res.set_content(body, contentType.c_str());
    });
}

void HttpServer::redirect(const std::string& path, const std::string& location, int status)
{
    m_impl->server.Get(path, [location, status](const httplib::Request&, httplib::Response& res) {
        res.status = status;
        res.set_header("Location", location);
        res.set_content("moved\r\n", "text/html");
    });
}

void HttpServer::serveGenerated(const std::string& path, std::size_t size, char fill)
{
    m_impl->server.Get(path, [size, fill](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(size, "text/html",
                                 [fill](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                     static_cast<void>(offset);
                                     const std::string chunk(std::min<std::size_t>(length, 64 * 1024), fill);
                                     return sink.write(chunk.data(), chunk.size());
                                 });
    });
}

std::string HttpServer::url(const std::string& target) const
{
    return LoopbackUrl(m_port, target);
}

std::vector<std::string> HttpServer::requestedPaths() const
{
    std::lock_guard lock(m_impl->mutex);
    return m_impl->paths;
}

int HttpServer::hits(const std::string& path) const
{
    const auto paths = requestedPaths();
    return static_cast<int>(std::count(paths.begin(), paths.end(), path));
}

RawServer::RawServer(Reply reply)
    : m_reply(std::move(reply))
{
    if (pipe2(m_stopPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("RawServer: pipe failed");
    }
    m_listen = BindLoopback(m_port);
    if (listen(m_listen, 16) != 0) {
        close(m_listen);
        throw std::runtime_error("RawServer: listen failed");
    }
    m_thread = std::thread([this] { run(); });
}

RawServer::~RawServer()
{
    const char stop = 1;
    static_cast<void>(write(m_stopPipe[1], &stop, 1));
    m_thread.join();
    close(m_listen);
    close(m_stopPipe[0]);
    close(m_stopPipe[1]);
}

std::string RawServer::url(const std::string& target) const
{
    return LoopbackUrl(m_port, target);
}

std::vector<std::string> RawServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

bool RawServer::waitReadable(int fd, std::chrono::milliseconds timeout) const
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
    const int n = poll(fds, 2, static_cast<int>(timeout.count()));
    return n > 0 && (fds[1].revents & POLLIN) == 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

void RawServer::run()
{
    for (;;) {
        if (!waitReadable(m_listen, std::chrono::hours(1))) {
            return;
        }
        const int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            serveConnection(fd);
        }
        pollfd stop {m_stopPipe[0], POLLIN, 0};
        if (poll(&stop, 1, 0) > 0) {
            return;
        }
    }
}

void RawServer::serveConnection(int fd)
{
    std::string received;
    char buffer[4096];
    while (received.find("\r\n\r\n") == std::string::npos && waitReadable(fd, std::chrono::seconds(1))) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        received.append(buffer, static_cast<std::size_t>(n));
    }
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(received);
    }

    bool stopped = false;
    for (std::size_t i = 0; i < m_reply.pieces.size() && !stopped; ++i) {
        if (i > 0 && m_reply.pause.count() > 0) {
            pollfd stop {m_stopPipe[0], POLLIN, 0};
            stopped = poll(&stop, 1, static_cast<int>(m_reply.pause.count())) > 0;
        }
        if (!stopped && !SendAll(fd, m_reply.pieces[i])) {
            break;
        }
    }

    if (m_reply.end == End::Stall && !stopped) {
        // Silent until the server stops or the client gives up and closes its side.
        while (waitReadable(fd, std::chrono::hours(1)) && recv(fd, buffer, sizeof buffer, 0) > 0) { }
    } else if (m_reply.end == End::Reset) {
        const linger abortive {1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    }
    close(fd);
}

int UnusedLoopbackPort()
{
    int port = 0;
    close(BindLoopback(port));
    return port;
}

} // namespace testing_support
