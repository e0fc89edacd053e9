#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

/// A bare TCP server on an ephemeral port of 127.0.0.1 playing a script: connection n gets reply
/// n (the last one again when the script runs out). Each request is recorded as received.
class LoopbackServer
{
public:
    enum class End
    {
        Close,
        Reset,
        Stall
    }; ///< Stall: silent until the client or the server goes

    struct Reply
    {
        std::vector<std::string> pieces; ///< sent `pause` apart
        std::chrono::milliseconds pause {0};
        End end = End::Close;
    };

    /// "HTTP/1.0 <status>" with an empty header block, then `body`.
    static Reply Http(int status, const std::string& body = {})
    {
        return {{"HTTP/1.0 " + std::to_string(status) + " X\r\n\r\n" + body}};
    }

    explicit LoopbackServer(std::vector<Reply> script);
    ~LoopbackServer();

    [[nodiscard]] int port() const { return m_port; }
    /// "http://127.0.0.1:<port>" followed by `target`.
    [[nodiscard]] std::string url(const std::string& target) const
    {
        return "http://127.0.0.1:" + std::to_string(m_port) + target;
    }
    /// The exact bytes of each request so far (to its blank line or a second of silence).
    [[nodiscard]] std::vector<std::string> requests() const;

private:
    void serve(int fd, const Reply& reply);
    bool waitReadable(int fd, std::chrono::milliseconds timeout) const;

    std::vector<Reply> m_script;
    int m_listen = -1;
    int m_port = 0;
    int m_stop[2] = {-1, -1};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

} // namespace testing_support
