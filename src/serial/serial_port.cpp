#include "serial/serial_port.h"

#include "serial/com_ports_detail.h"
#include "serial/serial_port_detail.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace serial_detail {

TcsetattrFunction tcsetattrCall = ::tcsetattr;

namespace {

OpenError ErrorOfOpen(int error)
{
    switch (error) {
    case EBUSY:
    case EWOULDBLOCK:
    case EACCES:
    case EPERM:
        return OpenError::AccessDenied;
    default:
        return OpenError::NotFound;
    }
}

} // namespace

int OpenExclusive(const std::string& device, OpenError& error)
{
    error = OpenError::NotFound;
    if (device.empty()) {
        return -1;
    }
    // Non-blocking so that a line without carrier cannot hold the open; the same flag gives the
    // bounded writes their "pending" answer.
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = ErrorOfOpen(errno);
        return -1;
    }
    struct stat info = {};
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) {
        close(fd);
        return -1;
    }
    // The lock refuses a second opener even when it runs as root, which TIOCEXCL does not.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = ErrorOfOpen(errno);
        close(fd);
        return -1;
    }
    ioctl(fd, TIOCEXCL);
    error = OpenError::None;
    return fd;
}

void CloseExclusive(int fd)
{
    if (fd < 0) {
        return;
    }
    // Exclusive mode belongs to the terminal, not the descriptor: without this the next open of
    // a terminal someone else still holds would be refused.
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    close(fd);
}

std::optional<speed_t> SpeedOf(std::uint32_t baud)
{
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    default:
        return std::nullopt;
    }
}

} // namespace serial_detail

namespace {

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

// Speed, data bits and parity; everything else the port had (stop bits, flow control, ...) stays.
bool ApplyLineSettings(termios& settings, std::uint32_t baud, std::uint8_t byteSize, std::uint8_t parity)
{
    const auto speed = serial_detail::SpeedOf(baud);
    const auto size = CharacterSizeOf(byteSize);
    const auto parityFlags = ParityFlagsOf(parity);
    if (!speed || !size || !parityFlags) {
        return false;
    }
    if (cfsetispeed(&settings, *speed) != 0 || cfsetospeed(&settings, *speed) != 0) {
        return false;
    }
    settings.c_cflag = (settings.c_cflag & ~CSIZE) | *size;
    settings.c_cflag = (settings.c_cflag & ~(PARENB | PARODD | CMSPAR)) | *parityFlags;
    // A Windows port sends the bytes as given and ignores the carrier line.
    settings.c_oflag &= ~OPOST;
    settings.c_cflag |= CLOCAL;
    return true;
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
    if (serial_detail::tcsetattrCall(fd, TCSANOW, &settings) == 0) {
        return true;
    }
    // A pty has no parity and no character size: the kernel drops PARENB and keeps PARODD, and the
    // C library then reports the next identical request as invalid although the speed took. The
    // relay writes to ptys (virtual cables to other programs), so this must not refuse a reopen.
    return errno == EINVAL && IsPseudoTerminal(fd);
}

} // namespace

CSerialPort::~CSerialPort()
{
    Close();
}

bool CSerialPort::Open(int port, std::uint32_t baud, std::uint8_t byteSize, std::uint8_t parity)
{
    // 1. An open link keeps its first settings.
    if (m_bOpened) {
        return true;
    }

    // 2. The device name, resolved like a DOS device.
    char name[32];
    std::snprintf(name, sizeof name, "COM%d", port);
    const std::string device = serial_detail::ResolveComName(name);

    // 3. Exclusive open; nothing else is held if it fails.
    serial_detail::OpenError error = serial_detail::OpenError::None;
    m_hPort = serial_detail::OpenExclusive(device, error);
    if (m_hPort < 0) {
        return false;
    }

    // 4, 5. Time-outs and completion events have no counterpart: a write is bounded by its own
    // wait in WriteByte.

    // 6. The port's current settings; without them there is nothing sound to change.
    termios settings {};
    bool ok = tcgetattr(m_hPort, &settings) == 0;

    // 7. Change the three line settings and write them back.
    ok = ok && ApplyLineSettings(settings, baud, byteSize, parity);
    ok = ok && ApplySettings(m_hPort, settings);

    // 8-10. The kernel's queues need no sizing; on failure release the device and its lock.
    if (!ok) {
        serial_detail::CloseExclusive(m_hPort);
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
    serial_detail::CloseExclusive(m_hPort);
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
        ready = poll(&pfd, 1, serial_detail::kWriteWaitMs);
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
