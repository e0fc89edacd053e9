#include "support/loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace testing_support {

LoopbackServer::LoopbackServer(std::vector<Reply> script)
    : m_script(std::move(script))
    , m_listen(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in addr {
        .sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    socklen_t len = sizeof addr;
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(m_listen, 16) != 0
        || getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len) != 0
        || pipe2(m_stop, O_CLOEXEC) != 0) {
        throw std::runtime_error("LoopbackServer: cannot listen on 127.0.0.1");
    }
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] {
        for (std::size_t n = 0; waitReadable(m_listen, std::chrono::hours(1)); ++n) {
            serve(accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC),
                  m_script.at(std::min(n, m_script.size() - 1)));
        }
    });
}

LoopbackServer::~LoopbackServer()
{
    static_cast<void>(write(m_stop[1], "", 1));
    m_thread.join();
    for (const int fd : {m_listen, m_stop[0], m_stop[1]}) {
        close(fd);
    }
}

std::vector<std::string> LoopbackServer::requests() const
{
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

bool LoopbackServer::waitReadable(int fd, std::chrono::milliseconds timeout) const
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
    return poll(fds, 2, static_cast<int>(timeout.count())) > 0 && fds[1].revents == 0 && fds[0].revents != 0;
}

void LoopbackServer::serve(int fd, const Reply& reply)
{
    std::string request;
    char buffer[4096];
    for (ssize_t n = 0; request.find("\r\n\r\n") == std::string::npos
         && waitReadable(fd, std::chrono::seconds(1)) && (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        request.append(buffer, static_cast<std::size_t>(n));
    }
    {
        const std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
    }
    for (std::size_t i = 0; i < reply.pieces.size(); ++i) {
        const std::string& piece = reply.pieces[i];
        pollfd stop {m_stop[0], POLLIN, 0};
        // The pause ends early when the server goes; a blocking send queues the whole piece.
        if ((i > 0 && poll(&stop, 1, static_cast<int>(reply.pause.count())) != 0)
            || send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) < 0) {
            break;
        }
    }
    while (reply.end == End::Stall && waitReadable(fd, std::chrono::hours(1)) && recv(fd, buffer, 1, 0) > 0) {
    }
    if (reply.end == End::Reset) {
        const linger abortive {1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    }
    close(fd);
}

} // namespace testing_support
