#pragma once

#include <chrono>
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

    /// Reads from the master until `expected` bytes have arrived (5 s at most), then goes on while
    /// more bytes arrive within `quiet` of each other: what came beyond `expected` shows too.
    std::string read(std::size_t expected, std::chrono::milliseconds quiet = std::chrono::milliseconds(100));
    /// What the master can read now, without waiting.
    std::string take();
    /// Fills the line towards the master with `byte` until it takes no more, as a device that stops
    /// reading leaves it; returns how many bytes that took.
    std::size_t fill(char byte = 'x');
    /// Closes the master side: the "cable" is pulled, the program's writes fail from now on.
    void closeMaster();
    /// Links COM<port> to this pty in the per-user ports folder (ComPortLinkDirectory()).
    void linkAsComPort(int port) const;

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
};

} // namespace testing_support
