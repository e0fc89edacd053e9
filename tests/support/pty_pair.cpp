#include "pty_pair.h"

#include "serial/com_ports.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace testing_support {

PtyPair::PtyPair()
{
    char name[PATH_MAX] = {};
    // The terminal keeps the kernel's default settings (OPOST/ONLCR on): the program under test
    // must switch off what it does not want, and a test can see whether it did.
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        throw std::system_error(errno, std::generic_category(), "openpty");
    }
    m_slavePath = name;
    const int flags = fcntl(m_master, F_GETFL);
    fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair()
{
    closeMaster();
    if (m_slave >= 0) {
        close(m_slave);
    }
}

std::string PtyPair::read(std::size_t expected, std::chrono::milliseconds timeout)
{
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_master >= 0 && received.size() < expected) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd pfd {m_master, POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (pfd.revents & POLLIN) == 0) {
            if (ready > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                break;
            }
            continue;
        }
        char buffer[4096];
        const std::size_t want = std::min(sizeof buffer, expected - received.size());
        const ssize_t n = ::read(m_master, buffer, want);
        if (n > 0) {
            received.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    return received;
}

std::string PtyPair::readAll(std::chrono::milliseconds quiet)
{
    std::string received;
    while (m_master >= 0) {
        pollfd pfd {m_master, POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(quiet.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (pfd.revents & POLLIN) == 0) {
            break;
        }
        char buffer[4096];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
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
    if (m_master >= 0) {
        close(m_master);
        m_master = -1;
    }
}

void PtyPair::linkAsComPort(int port) const
{
    const std::filesystem::path dir = ComPortLinkDirectory();
    std::filesystem::create_directories(dir);
    const auto link = dir / ("COM" + std::to_string(port));
    std::error_code ec;
    std::filesystem::remove(link, ec);
    std::filesystem::create_symlink(m_slavePath, link);
}

} // namespace testing_support
