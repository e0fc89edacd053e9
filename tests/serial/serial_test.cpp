#include "serial/com_ports.h"
#include "serial/serial_port.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

const std::string kLine = "DX de N0CALL:     14025.0  N1CALL       CW 599 strong signal          1234Z";

// Name, rate, data bits and parity asked for, the stop bits and flow control the port had, then the
// speed and control flags expected: B0 and the port's own flags when the request is refused.
using LineTest = testing::TestWithParam<std::tuple<const char*, int, int, int, tcflag_t, speed_t, tcflag_t>>;

TEST_P(LineTest, FromThePortsSettings)
{
    const auto& [name, baud, bits, parity, kept, speed, cflag] = GetParam();
    termios line {0, OPOST | ONLCR, CS7 | PARENB | PARODD | kept, 0, 0, {}, 0, 0};
    EXPECT_EQ(MakeLineSettings(line, baud, bits, parity), speed != B0);
    EXPECT_EQ(std::pair(cfgetispeed(&line), cfgetospeed(&line)), std::pair(speed, speed));
    // Output post-processing off: a "\n" goes out as it is, not as "\r\n".
    EXPECT_EQ(line.c_oflag, speed == B0 ? OPOST | ONLCR : ONLCR);
    EXPECT_EQ(line.c_cflag & ~CBAUD, cflag | kept);
}

const LineTest::ParamType kLineRows[]
    = {{"Rate1200SevenBitsOdd", 1200, 7, 1, 0, B1200, CS7 | PARENB | PARODD | CLOCAL},
       {"Rate2400EightBitsEven", 2400, 8, 2, 0, B2400, CS8 | PARENB | CLOCAL},
       {"Rate4800NoParity", 4800, 8, 0, 0, B4800, CS8 | CLOCAL},
       {"Rate9600KeepsTwoStopBitsAndRtsCts", 9600, 8, 0, CSTOPB | CRTSCTS, B9600, CS8 | CLOCAL},
       {"Rate19200SevenBitsEven", 19200, 7, 2, 0, B19200, CS7 | PARENB | CLOCAL},
       {"UnknownRateRefused", 38400, 8, 0, CSTOPB, B0, CS7 | PARENB | PARODD}};
INSTANTIATE_TEST_SUITE_P(Serial, LineTest, testing::ValuesIn(kLineRows),
                         [](const auto& row) { return std::string(std::get<0>(row.param)); });

// A pty linked as COM7 in a per-user ports folder of the test's own.
struct SerialPortTest : testing::Test
{
    void SetUp() override { m_pty.linkAsComPort(7); }

    testing_support::TempDir m_config;
    testing_support::ScopedEnv m_xdg {"XDG_CONFIG_HOME", m_config.path().string()};
    testing_support::PtyPair m_pty;
};

TEST_F(SerialPortTest, OpenWriteCloseAndPulledCable)
{
    CSerialPort link, other;
    // A port without a device, and a rate the line cannot take.
    EXPECT_FALSE(other.Open(161, 9600, 8, 0) || other.Open(7, 38400, 8, 0));
    ASSERT_TRUE(link.Open(7, 9600, 8, 0)) << "a failed open holds nothing";
    EXPECT_TRUE(link.Open(7, 19200, 7, 2));
    EXPECT_FALSE(other.Open(7, 9600, 8, 0)) << "exclusive, also for root";
    termios now {};
    tcgetattr(m_pty.slave(), &now);
    EXPECT_EQ(cfgetospeed(&now), speed_t {B9600}) << "an open link keeps its first settings";
    EXPECT_EQ(link.WriteBytes(kLine.data(), 75) + link.WriteBytes("\r\n", 2), 77);
    EXPECT_EQ(link.WriteBytes("x", 0) + link.WriteBytes("x", -1), 0);
    EXPECT_EQ(m_pty.read(kLine.size() + 2), kLine + "\r\n");
    link.Close();
    EXPECT_EQ(link.WriteBytes("x", 1) + other.WriteBytes("x", 1), 0) << "closed, and never opened";
    ASSERT_TRUE(other.Open(7, 9600, 8, 0));

    m_pty.closeMaster();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(other.WriteBytes((kLine + "\r\n").data(), 77), 77);
    // Loose on purpose: a wait of 1000 ms for each byte would take 77 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(SerialPortTest, PortsFromLinksAndTable)
{
    const std::string ports = ComPortLinkDirectory() + "/";
    for (const char* name : {"COM1000", "COM9", "COM170", "COM0203", "COM+204"}) {
        std::filesystem::create_symlink(m_pty.slavePath(), ports + name);
    }
    std::filesystem::create_symlink(m_config.path() / "gone", ports + "COM20");
    ComPortList list {5000};
    EnumerateComPorts(list);
    // The table's own ports depend on the machine: only those that are links here count.
    std::erase_if(list, [](unsigned int n) { return n <= 160 && n != 7 && n != 9 && n != 20; });
    EXPECT_EQ(list, (ComPortList {7, 9, 170, 1000}));
    EXPECT_EQ(ComPortDevice(7), ports + "COM7") << "a link wins over the table";

    // The Port setting's text to its number and device: the first and last port of each family of
    // the table, none beyond it, and texts that are no port.
    std::string found;
    for (const char* text :
         {"COM1",   "COM32",  "COM33",  "COM64",  "COM65",          "COM96",          "COM97",
          "COM128", "COM129", "COM160", "COM161", "COM 2",          "COM12",          "COM+4",
          "COM-3",  "None",   "COM",    "COMx1",  "COM99999999999", "COM-99999999999"}) {
        found += std::to_string(PortNumberOf(text)) + " " + ComPortDevice(PortNumberOf(text)) + ", ";
    }
    EXPECT_EQ(found,
              "1 /dev/ttyS0, 32 /dev/ttyS31, 33 /dev/ttyUSB0, 64 /dev/ttyUSB31, 65 /dev/ttyACM0, "
              "96 /dev/ttyACM31, 97 /dev/ttyAMA0, 128 /dev/ttyAMA31, 129 /dev/rfcomm0, "
              "160 /dev/rfcomm31, 161 , 2 /dev/ttyS1, 12 /dev/ttyS11, 4 /dev/ttyS3, -3 , 0 , 0 , 0 , "
              "2147483647 , -2147483648 , ");
}

} // namespace
