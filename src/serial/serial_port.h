#pragma once

#include <array>
#include <cstdint>
#include <termios.h>

/// The rates of the Speed setting's index 0 to 4.
inline constexpr std::array<std::uint32_t, 5> kBaudRates = {1200, 2400, 4800, 9600, 19200};

/// The line as the link sets it, from the port's current `settings`: speed, data bits and parity
/// (0 none, 1 odd, 2 even, 3 mark, 4 space) as given, output post-processing off (the bytes go out
/// as given) and the carrier ignored; everything else stays as the port had it. False, with
/// `settings` unchanged, for a rate, size or parity the line cannot take.
[[nodiscard]] bool MakeLineSettings(termios& settings, std::uint32_t baud, std::uint8_t byteSize,
                                    std::uint8_t parity);

// The serial line that takes the cluster lines. Writes only, one byte per write(),
// results instead of errors: a write failure is never reported.
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
    /// Closes the link; harmless when it is closed. Always true.
    bool Close();
    /// Writes one byte, waiting at most 1000 ms when the device cannot take it at once. Always true.
    bool WriteByte(std::uint8_t b);
    /// Writes `length` bytes one at a time. Returns `length` for an open link, 0 otherwise.
    int WriteBytes(const void* data, int length);

    [[nodiscard]] bool IsOpen() const { return m_bOpened; }

private:
    int m_hPort = -1;
    bool m_bOpened = false;
};
