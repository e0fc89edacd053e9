#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

/// "http://127.0.0.1:<port>" followed by `target`.
[[nodiscard]] std::string LoopbackUrl(int port, const std::string& target);

/// A real HTTP server (cpp-httplib) on an ephemeral port of 127.0.0.1; anything not routed gets 404.
class HttpServer
{
public:
    HttpServer();
    ~HttpServer();

    /// Answers GET `path` with status 200 and `body`, exactly as given.
    void serve(const std::string& path, const std::string& body);
    /// Answers GET `path` with `size` bytes of 'x', made piece by piece so huge bodies cost no memory.
    void serveGenerated(const std::string& path, std::size_t size);
    [[nodiscard]] std::string url(const std::string& target) const { return LoopbackUrl(m_port, target); }
    /// The path (without query) of every request received so far, in order.
    [[nodiscard]] std::vector<std::string> requestedPaths() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    int m_port = 0;
    std::thread m_thread;
};

/// A bare TCP server on 127.0.0.1 that records each request, then sends the reply's pieces `pause` apart.
class RawServer
{
public:
    enum class End
    {
        Close,
        Reset,
        Stall, ///< open and silent until the client closes or the server goes
    };

    struct Reply
    {
        std::vector<std::string> pieces;
        std::chrono::milliseconds pause {0};
        End end = End::Close;
    };

    explicit RawServer(Reply reply);
    ~RawServer();

    [[nodiscard]] int port() const { return m_port; }
    /// The exact bytes of each request so far (to its blank line or a second of silence), in order.
    [[nodiscard]] std::vector<std::string> requests() const;

private:
    void serveConnection(int fd);
    /// False when the server stops or `timeout` passes before `fd` is readable.
    bool waitReadable(int fd, std::chrono::milliseconds timeout) const;

    Reply m_reply;
    int m_listen = -1;
    int m_port = 0;
    int m_stopPipe[2] = {-1, -1};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

} // namespace testing_support
