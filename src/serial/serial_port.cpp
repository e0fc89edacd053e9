#include "serial/serial_port.h"

#include "serial/com_ports.h"

#include <cerrno>
#include <optional>
#include <string>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

/// How long a byte the device cannot take at once is waited for.
constexpr int kWriteWaitMs = 1000;
/// The termios speeds of kBaudRates, in the same order.
constexpr std::array<speed_t, kBaudRates.size()> kTermiosSpeeds = {B1200, B2400, B4800, B9600, B19200};

std::optional<speed_t> SpeedOf(std::uint32_t baud)
{
    for (std::size_t i = 0; i < kBaudRates.size(); ++i) {
        if (kBaudRates[i] == baud) {
            return kTermiosSpeeds[i];
        }
    }
    return std::nullopt;
}

/// Opens `device` read-write, non-blocking, without becoming its controlling terminal and
/// exclusively (flock and TIOCEXCL). Returns the descriptor, or -1.
int OpenExclusive(const std::string& device)
{
    if (device.empty()) {
        return -1;
    }
    // Non-blocking so that a line without carrier cannot hold the open; the same flag gives the
    // bounded writes their "pending" answer.
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat info = {};
    // The lock refuses a second opener even when it runs as root, which TIOCEXCL does not.
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    ioctl(fd, TIOCEXCL);
    return fd;
}

/// Releases what OpenExclusive took and closes the descriptor.
void CloseExclusive(int fd)
{
    // Exclusive mode belongs to the terminal, not the descriptor: without this the next open of
    // a terminal someone else still holds would be refused.
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    close(fd);
}

std::optional<tcflag_t> CharacterSizeOf(std::uint8_t byteSize)
{
    switch (byteSize) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    case 8:
        return CS8;
    default:
        return std::nullopt;
    }
}

// The platform's parity codes 0 none, 1 odd, 2 even, 3 mark, 4 space as control flags.
std::optional<tcflag_t> ParityFlagsOf(std::uint8_t parity)
{
    switch (parity) {
    case 0:
        return 0;
    case 1:
        return PARENB | PARODD;
    case 2:
        return PARENB;
    case 3:
        return PARENB | PARODD | CMSPAR;
    case 4:
        return PARENB | CMSPAR;
    default:
        return std::nullopt;
    }
}

bool IsPseudoTerminal(int fd)
{
    struct stat info = {};
    // Unix98 pty slaves: majors 136 to 143.
    return fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && major(info.st_rdev) >= 136
        && major(info.st_rdev) <= 143;
}

bool ApplySettings(int fd, const termios& settings)
{
    if (tcsetattr(fd, TCSANOW, &settings) == 0) {
        return true;
    }
    // A pty has no parity and no character size: the kernel drops PARENB and keeps PARODD, and the
    // C library then reports the next identical request as invalid although the speed took. The
    // relay writes to ptys (virtual cables to other programs), so this must not refuse a reopen.
    return errno == EINVAL && IsPseudoTerminal(fd);
}

} // namespace

bool MakeLineSettings(termios& settings, std::uint32_t baud, std::uint8_t byteSize, std::uint8_t parity)
{
    const auto speed = SpeedOf(baud);
    const auto size = CharacterSizeOf(byteSize);
    const auto parityFlags = ParityFlagsOf(parity);
    if (!speed || !size || !parityFlags) {
        return false;
    }
    termios line = settings;
    cfsetispeed(&line, *speed);
    cfsetospeed(&line, *speed);
    line.c_cflag = (line.c_cflag & ~CSIZE) | *size;
    line.c_cflag = (line.c_cflag & ~(PARENB | PARODD | CMSPAR)) | *parityFlags;
    // A Windows port sends the bytes as given and ignores the carrier line.
    line.c_oflag &= ~OPOST;
    line.c_cflag |= CLOCAL;
    settings = line;
    return true;
}

CSerialPort::~CSerialPort()
{
    Close();
}

bool CSerialPort::Open(int port, std::uint32_t baud, std::uint8_t byteSize, std::uint8_t parity)
{
    // An open link keeps its first settings.
    if (m_bOpened) {
        return true;
    }

    // "COM<port>", resolved like a DOS device; nothing is held if the exclusive open fails.
    m_hPort = OpenExclusive(ComPortDevice(port));
    if (m_hPort < 0) {
        return false;
    }

    // Time-outs, completion events and queue sizes have no counterpart here: a write is bounded
    // by its own wait in WriteByte. Without the port's current settings there is nothing sound
    // to change, so a failed read fails the open.
    termios settings {};
    const bool ok = tcgetattr(m_hPort, &settings) == 0 && MakeLineSettings(settings, baud, byteSize, parity)
        && ApplySettings(m_hPort, settings);
    if (!ok) {
        CloseExclusive(m_hPort);
        m_hPort = -1;
        return false;
    }
    m_bOpened = true;
    return true;
}

bool CSerialPort::Close()
{
    if (!m_bOpened || m_hPort < 0) {
        return true;
    }
    CloseExclusive(m_hPort);
    m_bOpened = false;
    m_hPort = -1;
    return true;
}

bool CSerialPort::WriteByte(std::uint8_t b)
{
    if (m_hPort < 0) {
        return true;
    }
    ssize_t written = 0;
    do {
        written = write(m_hPort, &b, 1);
    } while (written < 0 && errno == EINTR);
    if (written >= 0 || errno != EAGAIN) {
        return true;
    }

    // Pending: the device's queue is full. Wait for room at most kWriteWaitMs, then try once more.
    // A hung-up or failed line is reported by poll at once, so a dead line costs no wait.
    pollfd pfd {m_hPort, POLLOUT, 0};
    int ready = 0;
    do {
        ready = poll(&pfd, 1, kWriteWaitMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0 || (pfd.revents & POLLOUT) == 0 || (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return true;
    }
    written = write(m_hPort, &b, 1);
    (void)written;
    return true;
}

int CSerialPort::WriteBytes(const void* data, int length)
{
    if (!m_bOpened || m_hPort < 0 || length <= 0 || data == nullptr) {
        return 0;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (int i = 0; i < length; ++i) {
        WriteByte(bytes[i]);
    }
    return length;
}
