#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <termios.h>

/// The rates of the Speed setting's index 0 to 4.
inline constexpr std::array<std::uint32_t, 5> kBaudRates = {1200, 2400, 4800, 9600, 19200};

/// The line as the link sets it, from the port's current `settings`: raw as a Windows port (no echo,
/// no canonical input, no signals, no input translation, no XON/XOFF, no output post-processing),
/// the carrier ignored, speed, data bits and parity (0 none, 1 odd, 2 even, 3 mark, 4 space) as
/// given; stop bits, RTS/CTS and the rest stay as the port had them. False, with `settings`
/// unchanged, for a rate, size or parity the line cannot take.
[[nodiscard]] bool MakeLineSettings(termios& settings, std::uint32_t baud, std::uint8_t byteSize,
                                    std::uint8_t parity);

// The serial line that takes the cluster lines. Writes only, never waiting, results instead of
// errors: a write failure is never reported, but a device that is gone is seen.
class CSerialPort
{
public:
    CSerialPort() = default;
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    /// Opens port "COM<port>" with the given speed, data bits and parity (0 none, 1 odd,
    /// 2 even). True when the port is open on return; an open link keeps its first settings.
    bool Open(int port, std::uint32_t baud, std::uint8_t byteSize, std::uint8_t parity);
    /// Gives the port back the settings it had before Open and closes the link; harmless when it
    /// is closed. Always true.
    bool Close();
    /// Hands the device as many of the `length` bytes as it takes now, without waiting, and
    /// returns how many it took: fewer (down to 0) when its queue is full, 0 when the link is
    /// closed or lost. A write that finds the device gone marks the link lost.
    int WriteBytes(const void* data, int length);
    /// The descriptor to watch for room, -1 when closed.
    [[nodiscard]] int Handle() const { return m_hPort; }
    /// Drops what the device's queue still holds: a line stopped by flow control would otherwise
    /// hold the close for as long as the driver waits for it.
    void DiscardQueued();

    [[nodiscard]] bool IsOpen() const { return m_bOpened; }
    /// True once a write found the device gone (unplugged, hung up); until Close. The link is
    /// brought back by Close, then Open with the same settings.
    [[nodiscard]] bool IsLost() const { return m_bLost; }
    /// Why the last Open failed, e.g. "COM40 (/dev/ttyUSB7): No such file or directory";
    /// empty after a successful one.
    [[nodiscard]] const std::string& OpenFailure() const { return m_openFailure; }

private:
    /// Opens `device` exclusively and sets the line; 0, or the errno of the step that failed, with
    /// nothing held then.
    int OpenLine(const std::string& device, std::uint32_t baud, std::uint8_t byteSize, std::uint8_t parity);
    /// Gives the port its earlier settings back when `restore` and lets go of it.
    void ReleasePort(bool restore);

    int m_hPort = -1;
    bool m_bOpened = false;
    bool m_bLost = false;
    termios m_previousSettings {};
    std::string m_openFailure;
};
