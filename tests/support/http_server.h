#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

/// A real HTTP server (cpp-httplib) on an ephemeral port of 127.0.0.1, serving from its own thread
/// until it is destroyed. Routes are GET only; anything not routed gets 404.
class HttpServer
{
public:
    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    /// Answers GET `path` with `status` and `body`, exactly as given.
    void serve(const std::string& path, const std::string& body, int status = 200,
               const std::string& contentType = "text/html");
    /// Answers GET `path` with `status` and a Location header.
    void redirect(const std::string& path, const std::string& location, int status = 302);
    /// Answers GET `path` with a body of `size` bytes of `fill`, produced piece by piece with a
    /// Content-Length, so that huge bodies cost no memory here.
    void serveGenerated(const std::string& path, std::size_t size, char fill = 'x');

    [[nodiscard]] int port() const { return m_port; }
    /// "http://127.0.0.1:<port>" followed by `target`.
    [[nodiscard]] std::string url(const std::string& target) const;
    /// The path (without query) of every request received so far, in order.
    [[nodiscard]] std::vector<std::string> requestedPaths() const;
    /// How many requests for `path` were received.
    [[nodiscard]] int hits(const std::string& path) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    int m_port = 0;
    std::thread m_thread;
};

/// A bare TCP server on an ephemeral port of 127.0.0.1 for answers no HTTP library would give.
/// Connections are served one after the other: the request is read up to the blank line that ends
/// its headers (or until the client sends nothing for a second) and recorded byte for byte, then
/// the reply's pieces are sent with `pause` between them and the connection ends as `end` says.
class RawServer
{
public:
    enum class End
    {
        Close, ///< orderly close (FIN) after the last piece
        Reset, ///< connection reset (RST) after the last piece
        Stall, ///< the connection stays open and silent until the server is destroyed
    };

    struct Reply
    {
        std::vector<std::string> pieces;
        std::chrono::milliseconds pause {0};
        End end = End::Close;
    };

    explicit RawServer(Reply reply);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    [[nodiscard]] int port() const { return m_port; }
    /// "http://127.0.0.1:<port>" followed by `target`.
    [[nodiscard]] std::string url(const std::string& target) const;
    /// The exact bytes received on each connection so far, in order.
    [[nodiscard]] std::vector<std::string> requests() const;

private:
    void run();
    void serveConnection(int fd);
    /// Waits until `fd` is readable or the server stops; false when it stops or `timeout` passes.
    bool waitReadable(int fd, std::chrono::milliseconds timeout) const;

    Reply m_reply;
    int m_listen = -1;
    int m_stopPipe[2] = {-1, -1};
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

/// Reserves a loopback port, then frees it: connecting to it is refused.
[[nodiscard]] int UnusedLoopbackPort();

} // namespace testing_support
