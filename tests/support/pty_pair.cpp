#include "pty_pair.h"

#include "serial/com_ports.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace testing_support {

PtyPair::PtyPair()
{
    // Kernel defaults stay (OPOST/ONLCR on), so a test sees whether the program switched them off.
    if (openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0) {
        throw std::system_error(errno, std::generic_category(), "openpty");
    }
    m_slavePath = ttyname(m_slave);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair()
{
    closeMaster();
    close(m_slave);
}

std::string PtyPair::pump(std::size_t expected, std::chrono::milliseconds quiet,
                          std::chrono::steady_clock::time_point deadline)
{
    std::string received;
    char buffer[4096];
    while (m_master >= 0 && received.size() < expected) {
        const auto left
            = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd pfd {m_master, POLLIN, 0};
        const int ready
            = left.count() > 0 ? poll(&pfd, 1, static_cast<int>(std::min(quiet, left).count())) : 0;
        const ssize_t n = ready > 0 && (pfd.revents & POLLIN) != 0
            ? ::read(m_master, buffer, std::min(sizeof buffer, expected - received.size()))
            : std::min(ready, 0);
        if (n > 0) {
            received.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    return received;
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
