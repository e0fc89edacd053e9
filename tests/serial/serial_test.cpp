#include "serial/com_ports.h"
#include "serial/serial_port.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

#include <chrono>
#include <filesystem>
#include <poll.h>
#include <string>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

const std::string kLine = "DX de N0CALL:     14025.0  N1CALL       CW 599 strong signal          1234Z";

// Name, rate, data bits and parity asked for, the stop bits and flow control the port had, then the
// speed and control flags expected: B0 and the port's own flags when the request is refused.
using LineTest = testing::TestWithParam<std::tuple<const char*, int, int, int, tcflag_t, speed_t, tcflag_t>>;

// A line discipline's input and local modes, all of which a raw line clears but IGNPAR and NOFLSH.
constexpr tcflag_t kInput
    = ICRNL | INLCR | IGNCR | ISTRIP | INPCK | PARMRK | BRKINT | IXON | IXOFF | IXANY | IGNPAR;
constexpr tcflag_t kLocal = ECHO | ECHONL | ICANON | ISIG | IEXTEN | NOFLSH;

TEST_P(LineTest, FromThePortsSettings)
{
    const auto& [name, baud, bits, parity, kept, speed, cflag] = GetParam();
    termios line {kInput, OPOST | ONLCR, CS7 | PARENB | PARODD | kept, kLocal, 0, {}, 0, 0};
    EXPECT_EQ(MakeLineSettings(line, baud, bits, parity), speed != B0);
    EXPECT_EQ(std::pair(cfgetispeed(&line), cfgetospeed(&line)), std::pair(speed, speed));
    // Output post-processing off: a "\n" goes out as it is, not as "\r\n".
    EXPECT_EQ(std::tuple(line.c_iflag, line.c_oflag, line.c_cflag & ~CBAUD, line.c_lflag),
              speed == B0 ? std::tuple(kInput, tcflag_t {OPOST | ONLCR}, cflag | kept, kLocal)
                          : std::tuple(tcflag_t {IGNPAR}, tcflag_t {ONLCR}, cflag | kept, tcflag_t {NOFLSH}));
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

TEST_F(SerialPortTest, RawLineLeftAsFound)
{
    termios before {}, opened {}, after {};
    tcgetattr(m_pty.slave(), &before);
    // A fresh tty's line discipline: it would echo, and stop on XOFF.
    ASSERT_EQ(before.c_iflag & (IXON | ICRNL), tcflag_t {IXON | ICRNL});
    ASSERT_EQ(before.c_lflag & (ECHO | ICANON), tcflag_t {ECHO | ICANON});
    CSerialPort link;
    ASSERT_TRUE(link.Open(7, 1200, 8, 0) && link.Open(7, 19200, 7, 2));
    tcgetattr(m_pty.slave(), &opened);
    EXPECT_EQ(cfgetospeed(&opened), speed_t {B1200}) << "an open link keeps its first settings";

    // The device sends an XOFF, its call and a command, and they have arrived before the spots go.
    ASSERT_EQ(write(m_pty.master(), "\023DL1TST\r\nsh/dx 30\r\n", 19), 19);
    pollfd arrived {m_pty.slave(), POLLIN, 0};
    ASSERT_EQ(poll(&arrived, 1, 2000), 1);
    for (int spot = 0; spot < 3; ++spot) {
        EXPECT_EQ(link.WriteBytes(kLine.data(), 75) + link.WriteBytes("\r\n", 2), 77);
    }
    const std::string spots = kLine + "\r\n" + kLine + "\r\n" + kLine + "\r\n";
    EXPECT_EQ(m_pty.read(spots.size()), spots) << "nothing echoed, nothing held back";
    link.Close();
    tcgetattr(m_pty.slave(), &after);
    EXPECT_EQ(std::tuple(after.c_iflag, after.c_oflag, after.c_cflag, after.c_lflag),
              std::tuple(before.c_iflag, before.c_oflag, before.c_cflag, before.c_lflag));
}

TEST_F(SerialPortTest, OpenFailuresLostLinkAndBack)
{
    const std::string ports = ComPortLinkDirectory() + "/";
    std::filesystem::create_symlink(m_config.path() / "gone", ports + "COM20");
    CSerialPort link, other;
    const auto fail = [&](int n, int baud) { return other.Open(n, baud, 8, 0) ? "" : other.OpenFailure(); };
    EXPECT_EQ(fail(7, 38400), "COM7 (" + ports + "COM7): Invalid argument");
    ASSERT_TRUE(link.Open(7, 9600, 8, 0)) << "a failed open holds nothing";
    // No device for the number, a link to a device that is gone, and the port held (also for root).
    EXPECT_EQ(fail(161, 9600) + "|" + fail(20, 9600) + "|" + fail(7, 9600),
              "COM161: no such port|COM20 (" + ports + "COM20): No such file or directory|COM7 (" + ports
                  + "COM7): Device or resource busy");
    EXPECT_EQ(link.WriteBytes("x", 0) + link.WriteBytes("x", -1), 0);

    // A full queue takes nothing and is no loss; a device that is gone is.
    const std::size_t room = m_pty.fill();
    EXPECT_EQ(std::pair(link.WriteBytes(kLine.data(), 75), link.IsLost()), std::pair(0, false));
    EXPECT_EQ(m_pty.read(room).size(), room);
    m_pty.closeMaster();
    EXPECT_TRUE(link.WriteBytes("\r\n", 2) == 0 && link.IsLost());
    link.Close();
    EXPECT_EQ(link.WriteBytes("x", 1) + other.WriteBytes("x", 1), 0) << "closed, and never opened";

    // The same COM name with a device behind it again.
    testing_support::PtyPair back;
    back.linkAsComPort(7);
    ASSERT_TRUE(link.Open(7, 9600, 8, 0)) << link.OpenFailure();
    EXPECT_EQ(back.read(link.WriteBytes(kLine.data(), 75)), kLine) << "no longer lost";
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
