#include "support/pty_pair.h"

#include "serial/com_ports.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace testing_support {

PtyPair::PtyPair()
{
    // Kernel defaults stay (ECHO, ICANON, IXON, OPOST/ONLCR on), so a test sees what the program changed.
    if (openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0) {
        throw std::system_error(errno, std::generic_category(), "openpty");
    }
    m_slavePath = ttyname(m_slave);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair()
{
    closeMaster();
    close(m_slave);
}

std::string PtyPair::read(std::size_t expected, std::chrono::milliseconds quiet)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    std::string received;
    char buffer[4096];
    for (;;) {
        const bool short_ = received.size() < expected;
        const auto wait
            = short_ ? std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()) : quiet;
        pollfd pfd {m_master, POLLIN, 0};
        if (m_master < 0 || wait.count() <= 0 || poll(&pfd, 1, static_cast<int>(wait.count())) <= 0) {
            return received;
        }
        // Never more than `expected` while short of it, so a caller can read up to a boundary.
        const std::size_t room = short_ ? std::min(sizeof buffer, expected - received.size()) : sizeof buffer;
        const ssize_t n = ::read(m_master, buffer, room);
        if (n <= 0) {
            return received;
        }
        received.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string PtyPair::take()
{
    std::string received;
    char buffer[4096];
    pollfd pfd {m_master, POLLIN, 0};
    while (m_master >= 0 && poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLIN) != 0) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        received.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
}

std::size_t PtyPair::fill(char byte)
{
    const int flags = fcntl(m_slave, F_GETFL);
    fcntl(m_slave, F_SETFL, flags | O_NONBLOCK);
    const std::string chunk(4096, byte);
    std::size_t filled = 0;
    // Large writes first, then single bytes for the last room. The kernel moves what was written
    // on to the master's side a moment later, which makes room again: full is when a pass after a
    // pause takes nothing.
    for (std::size_t pass = 1; pass > 0; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        pass = 0;
        for (std::size_t size = chunk.size(); size > 0; size = size > 1 ? 1 : 0) {
            for (ssize_t n = 0; (n = ::write(m_slave, chunk.data(), size)) > 0;) {
                pass += static_cast<std::size_t>(n);
            }
        }
        filled += pass;
    }
    fcntl(m_slave, F_SETFL, flags);
    return filled;
}

void PtyPair::closeMaster()
{
    close(std::exchange(m_master, -1));
}

void PtyPair::linkAsComPort(int port) const
{
    const std::filesystem::path dir = ComPortLinkDirectory();
    std::filesystem::create_directories(dir);
    const auto link = dir / ("COM" + std::to_string(port));
    std::filesystem::remove(link);
    std::filesystem::create_symlink(m_slavePath, link);
}

} // namespace testing_support
