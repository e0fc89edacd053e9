#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace testing_support {

/// A pty as serial cable; the test keeps its own slave open so nothing is lost when the program closes.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    [[nodiscard]] int master() const { return m_master; }
    [[nodiscard]] int slave() const { return m_slave; }
    [[nodiscard]] const std::string& slavePath() const { return m_slavePath; }

    /// Reads from the master until `expected` bytes have arrived or `timeout` has passed.
    std::string read(std::size_t expected, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        return pump(expected, timeout, std::chrono::steady_clock::now() + timeout);
    }
    /// Everything that arrives within `quiet` of the previous byte.
    std::string readAll(std::chrono::milliseconds quiet = std::chrono::milliseconds(200))
    {
        return pump(SIZE_MAX, quiet, std::chrono::steady_clock::time_point::max());
    }

    /// Closes the master side: the "cable" is pulled, the program's writes fail from now on.
    void closeMaster();

    /// Links COM<port> to this pty in the per-user ports folder (ComPortLinkDirectory()).
    void linkAsComPort(int port) const;

private:
    /// Reads until `expected` bytes, a gap of `quiet`, the deadline, a hang-up or an error.
    std::string pump(std::size_t expected, std::chrono::milliseconds quiet,
                     std::chrono::steady_clock::time_point deadline);

    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
};

} // namespace testing_support
