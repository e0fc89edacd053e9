#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <termios.h>

// The termios layer under CSerialPort, shared with port probing.
namespace serial_detail {

/// The call that applies the settings; tests replace it to see what the link hands over
/// (a pty forces CS8 and clears PARENB, so reading it back tells nothing).
using TcsetattrFunction = int (*)(int fd, int optionalActions, const termios* settings);
extern TcsetattrFunction tcsetattrCall;

/// How long a byte the device cannot take at once is waited for.
inline constexpr int kWriteWaitMs = 1000;

enum class OpenError
{
    None,
    AccessDenied, ///< the device exists but is held (busy or locked) or may not be opened
    NotFound, ///< no such device, or it is not a character device
};

/// Opens `device` read-write, non-blocking, without becoming its controlling terminal and
/// exclusively (flock and TIOCEXCL). Returns the descriptor, or -1 with `error` set.
[[nodiscard]] int OpenExclusive(const std::string& device, OpenError& error);
/// Releases what OpenExclusive took and closes the descriptor.
void CloseExclusive(int fd);

/// The termios speed for one of the link's speeds; nothing for any other rate.
[[nodiscard]] std::optional<speed_t> SpeedOf(std::uint32_t baud);

} // namespace serial_detail
