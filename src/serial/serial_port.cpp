#include "serial/serial_port.h"

#include "serial/com_ports.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <system_error>
#include <unistd.h>

namespace {

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
/// exclusively (flock and TIOCEXCL). Returns the descriptor, or -1 with errno saying why.
int OpenExclusive(const std::string& device)
{
    // Non-blocking so that a line without carrier cannot hold the open; the same flag gives the
    // writes their "pending" answer.
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat info = {};
    int error = 0;
    if (fstat(fd, &info) != 0) {
        error = errno;
    } else if (!S_ISCHR(info.st_mode)) {
        error = ENOTTY;
    } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // The lock refuses a second opener even when it runs as root, which TIOCEXCL does not; the
        // user is told the port is busy, as a refused TIOCEXCL says it.
        error = errno == EWOULDBLOCK ? EBUSY : errno;
    }
    if (error != 0) {
        close(fd);
        errno = error;
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

/// The reason an open failed as the user reads it.
std::string FailureReason(int error)
{
    // Serial devices belong to the group dialout, which a new user is not in.
    if (error == EACCES) {
        return std::generic_category().message(error)
            + " - add yourself to the dialout group (sudo adduser $USER dialout) and log in again";
    }
    return std::generic_category().message(error);
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
    // A Windows port has no line discipline: nothing the device sends is echoed, cooked, translated,
    // stripped or marked, and no byte or break from it raises a signal or flushes the output.
    line.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    line.c_iflag &= ~(ICRNL | INLCR | IGNCR | ISTRIP | INPCK | PARMRK | BRKINT);
    // Nor does it stop on an XOFF unless told to, and Linux starts a tty with IXON on.
    line.c_iflag &= ~(IXON | IXOFF | IXANY);
    // The bytes go out as given, and the carrier line is ignored. Stop bits, RTS/CTS and VMIN/VTIME
    // stay as the port had them: the link never reads, and Close puts everything back.
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
    // "COM<port>", resolved like a DOS device.
    const std::string name = ComPortName(port);
    const std::string device = ComPortDevice(port);
    if (device.empty()) {
        m_openFailure = name + ": no such port";
        return false;
    }
    if (const int error = OpenLine(device, baud, byteSize, parity); error != 0) {
        m_openFailure = name + " (" + device + "): " + FailureReason(error);
        return false;
    }
    m_bOpened = true;
    m_openFailure.clear();
    return true;
}

int CSerialPort::OpenLine(const std::string& device, std::uint32_t baud, std::uint8_t byteSize,
                          std::uint8_t parity)
{
    // Time-outs, completion events and queue sizes have no counterpart here: writes never wait.
    m_hPort = OpenExclusive(device);
    if (m_hPort < 0) {
        return errno;
    }
    // Without the port's current settings there is nothing sound to change, nor to restore.
    if (tcgetattr(m_hPort, &m_previousSettings) != 0) {
        const int error = errno;
        ReleasePort(false);
        return error;
    }
    termios settings = m_previousSettings;
    if (!MakeLineSettings(settings, baud, byteSize, parity)) {
        ReleasePort(false);
        return EINVAL;
    }
    if (!ApplySettings(m_hPort, settings)) {
        const int error = errno;
        ReleasePort(true);
        return error;
    }
    return 0;
}

void CSerialPort::ReleasePort(bool restore)
{
    // While the port is still ours: the next program may take it the moment the lock goes. At
    // once, not after a drain, which could hold Stop for good on a line stopped by RTS/CTS.
    if (restore) {
        tcsetattr(m_hPort, TCSANOW, &m_previousSettings);
    }
    CloseExclusive(m_hPort);
    m_hPort = -1;
}

bool CSerialPort::Close()
{
    if (!m_bOpened || m_hPort < 0) {
        return true;
    }
    ReleasePort(true);
    m_bOpened = false;
    m_bLost = false;
    return true;
}

int CSerialPort::WriteBytes(const void* data, int length)
{
    // A device that is gone takes nothing until the link is opened again.
    if (!m_bOpened || m_hPort < 0 || m_bLost || length <= 0 || data == nullptr) {
        return 0;
    }
    ssize_t written = 0;
    do {
        written = write(m_hPort, data, static_cast<std::size_t>(length));
    } while (written < 0 && errno == EINTR);
    if (written >= 0) {
        return static_cast<int>(written);
    }
    // A full queue is the "pending" case: the caller keeps the rest for when there is room.
    m_bLost = errno != EAGAIN;
    return 0;
}

void CSerialPort::DiscardQueued()
{
    if (m_hPort >= 0) {
        tcflush(m_hPort, TCOFLUSH);
    }
}
