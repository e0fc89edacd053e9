#include "serial/com_ports.h"
#include "serial/serial_port.h"
#include "serial/serial_port_detail.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

#include <chrono>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using testing_support::PtyPair;
using testing_support::ScopedEnv;
using testing_support::TempDir;

const std::string kClusterLine
    = "DX de N0CALL:     14025.0  N1CALL       CW 599 strong signal          1234Z";

// Records what the link hands to tcsetattr, then applies it for real.
std::optional<termios> g_applied;
int g_applyCount = 0;
int RecordingTcsetattr(int fd, int actions, const termios* settings)
{
    g_applied = *settings;
    ++g_applyCount;
    return ::tcsetattr(fd, actions, settings);
}

class SerialPortTest : public ::testing::Test
{
protected:
    static constexpr int kPort = 7;

    SerialPortTest()
    {
        serial_detail::tcsetattrCall = RecordingTcsetattr;
        g_applied.reset();
        g_applyCount = 0;
        m_pty.linkAsComPort(kPort);
    }
    ~SerialPortTest() override { serial_detail::tcsetattrCall = ::tcsetattr; }

    [[nodiscard]] termios current() const
    {
        termios t {};
        tcgetattr(m_pty.slave(), &t);
        return t;
    }
    void setBefore(tcflag_t cflags, tcflag_t iflags) const
    {
        termios t = current();
        t.c_cflag |= cflags;
        t.c_iflag |= iflags;
        ASSERT_EQ(::tcsetattr(m_pty.slave(), TCSANOW, &t), 0);
    }

    TempDir m_config;
    ScopedEnv m_xdg {"XDG_CONFIG_HOME", m_config.path().string()};
    PtyPair m_pty;
    CSerialPort m_link;
};

TEST_F(SerialPortTest, ClusterLineAndLineEndArriveByteForByte)
{
    ASSERT_EQ(kClusterLine.size(), 75U);
    ASSERT_TRUE(m_link.Open(kPort, 9600, 8, 0));
    EXPECT_EQ(m_link.WriteBytes(kClusterLine.data(), 75), 75);
    EXPECT_EQ(m_link.WriteBytes("\r\n", 2), 2);
    EXPECT_EQ(m_pty.read(77), kClusterLine + "\r\n");
    EXPECT_EQ(m_pty.readAll(), "");
}

TEST_F(SerialPortTest, OutputGoesOutUntranslated)
{
    ASSERT_TRUE(m_link.Open(kPort, 9600, 8, 0));
    ASSERT_TRUE(g_applied);
    EXPECT_EQ(g_applied->c_oflag & OPOST, 0U);
    EXPECT_NE(g_applied->c_cflag & CLOCAL, 0U);
    m_link.WriteBytes("\n", 1);
    EXPECT_EQ(m_pty.readAll(), "\n");
    m_link.WriteBytes("\r\n", 2);
    EXPECT_EQ(m_pty.readAll(), "\r\n");
}

TEST_F(SerialPortTest, StopBitsAndFlowControlKeepWhatThePortHad)
{
    setBefore(CSTOPB | CRTSCTS, IXON | IXOFF);
    ASSERT_TRUE(m_link.Open(kPort, 4800, 7, 1));
    ASSERT_TRUE(g_applied);
    EXPECT_NE(g_applied->c_cflag & CSTOPB, 0U);
    EXPECT_NE(g_applied->c_cflag & CRTSCTS, 0U);
    EXPECT_EQ(g_applied->c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_NE(current().c_cflag & CSTOPB, 0U);

    // And a port at one stop bit without flow control is not given any.
    CSerialPort other;
    PtyPair plain;
    plain.linkAsComPort(8);
    termios t {};
    tcgetattr(plain.slave(), &t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
    ASSERT_EQ(::tcsetattr(plain.slave(), TCSANOW, &t), 0);
    ASSERT_TRUE(other.Open(8, 4800, 7, 1));
    EXPECT_EQ(g_applied->c_cflag & (CSTOPB | CRTSCTS), 0U);
    EXPECT_EQ(g_applied->c_iflag & (IXON | IXOFF), 0U);
}

struct LineSettingsRow
{
    std::uint32_t baud;
    speed_t speed;
};
const LineSettingsRow kSpeeds[]
    = {{1200, B1200}, {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200}};

class LineSettingsTest : public SerialPortTest,
                         public ::testing::WithParamInterface<std::tuple<LineSettingsRow, int, int>>
{
};

TEST_P(LineSettingsTest, OpenAppliesSpeedDataBitsAndParity)
{
    const auto& [row, bits, parity] = GetParam();
    ASSERT_TRUE(
        m_link.Open(kPort, row.baud, static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(parity)));
    const termios readBack = current();
    EXPECT_EQ(cfgetospeed(&readBack), row.speed);
    ASSERT_TRUE(g_applied);
    EXPECT_EQ(cfgetospeed(&*g_applied), row.speed);
    EXPECT_EQ(cfgetispeed(&*g_applied), row.speed);
    EXPECT_EQ(g_applied->c_cflag & CSIZE,
              bits == 8 ? static_cast<tcflag_t>(CS8) : static_cast<tcflag_t>(CS7));
    const tcflag_t expectedParity = parity == 0 ? 0 : parity == 1 ? PARENB | PARODD : PARENB;
    EXPECT_EQ(g_applied->c_cflag & (PARENB | PARODD | CMSPAR), expectedParity);
}

std::string LineSettingsName(const ::testing::TestParamInfo<LineSettingsTest::ParamType>& row)
{
    const auto& [speed, bits, parity] = row.param;
    return std::to_string(speed.baud) + "_" + std::to_string(bits) + "_" + std::string(1, "NOE"[parity]);
}

INSTANTIATE_TEST_SUITE_P(EverySpeedBitsParity, LineSettingsTest,
                         ::testing::Combine(::testing::ValuesIn(kSpeeds), ::testing::Values(7, 8),
                                            ::testing::Values(0, 1, 2)),
                         LineSettingsName);

TEST_F(SerialPortTest, SecondOpenOfTheDeviceIsRefused)
{
    ASSERT_TRUE(m_link.Open(kPort, 9600, 8, 0));
    CSerialPort second;
    EXPECT_FALSE(second.Open(kPort, 9600, 8, 0));
    EXPECT_EQ(second.WriteBytes("x", 1), 0);

    // Another program: refused by TIOCEXCL, or (for root, who bypasses it) by the lock.
    const int fd = open(m_pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const bool refused = fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (fd >= 0) {
        close(fd);
    }
    EXPECT_TRUE(refused);

    // Once closed, the device is free for the next opener.
    m_link.Close();
    EXPECT_TRUE(second.Open(kPort, 9600, 8, 0));
}

TEST_F(SerialPortTest, FailedOpensHoldNothingAndWriteNothing)
{
    TempDir files;
    const auto file = files.write("plain", "not a device");
    const std::filesystem::path ports = ComPortLinkDirectory();
    std::filesystem::create_symlink(files.path() / "gone", ports / "COM20");
    std::filesystem::create_symlink(file, ports / "COM21");
    std::filesystem::create_symlink("/dev/null", ports / "COM22"); // no terminal: tcgetattr fails

    EXPECT_FALSE(m_link.Open(20, 9600, 8, 0)) << "dangling link";
    EXPECT_FALSE(m_link.Open(21, 9600, 8, 0)) << "regular file";
    EXPECT_FALSE(m_link.Open(22, 9600, 8, 0)) << "not a terminal";
    EXPECT_FALSE(m_link.Open(250, 9600, 8, 0)) << "outside every table";
    EXPECT_FALSE(m_link.Open(-1, 9600, 8, 0)) << "negative number";
    EXPECT_FALSE(m_link.Open(kPort, 38400, 8, 0)) << "speed outside the table";
    EXPECT_FALSE(m_link.Open(kPort, 9600, 9, 0)) << "data bits";
    EXPECT_FALSE(m_link.Open(kPort, 9600, 8, 5)) << "parity code";
    EXPECT_FALSE(m_link.IsOpen());
    EXPECT_EQ(m_link.WriteBytes(kClusterLine.data(), 75), 0);
    EXPECT_EQ(m_pty.readAll(), "");

    // Nothing was left locked: the device opens at once.
    const int fd = open(m_pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    close(fd);
}

TEST_F(SerialPortTest, OpenWhileOpenKeepsTheFirstSettings)
{
    ASSERT_TRUE(m_link.Open(kPort, 9600, 8, 0));
    EXPECT_TRUE(m_link.Open(kPort, 19200, 7, 2));
    EXPECT_TRUE(m_link.Open(99, 19200, 7, 2));
    EXPECT_EQ(g_applyCount, 1);
    const termios readBack = current();
    EXPECT_EQ(cfgetospeed(&readBack), static_cast<speed_t>(B9600));
}

TEST_F(SerialPortTest, CloseIsIdempotentAndTheLinkReopens)
{
    EXPECT_TRUE(m_link.Close());
    ASSERT_TRUE(m_link.Open(kPort, 9600, 8, 0));
    EXPECT_TRUE(m_link.Close());
    EXPECT_TRUE(m_link.Close());
    EXPECT_EQ(m_link.WriteBytes("x", 1), 0);
    ASSERT_TRUE(m_link.Open(kPort, 2400, 8, 0));
    EXPECT_EQ(m_link.WriteBytes("ok", 2), 2);
    EXPECT_EQ(m_link.WriteBytes("ok", 0), 0);
    EXPECT_EQ(m_link.WriteBytes("ok", -3), 0);
    EXPECT_EQ(m_link.WriteBytes(nullptr, 2), 0);
    EXPECT_EQ(m_pty.readAll(), "ok");
}

// Fills the pty until it takes no more, so that the link's next write is pending.
std::size_t FillUntilFull(int slave)
{
    const int flags = fcntl(slave, F_GETFL);
    fcntl(slave, F_SETFL, flags | O_NONBLOCK);
    std::size_t total = 0;
    const std::string block(512, 'f');
    for (ssize_t n = 0; (n = write(slave, block.data(), block.size())) > 0;) {
        total += static_cast<std::size_t>(n);
    }
    fcntl(slave, F_SETFL, flags);
    return total;
}

TEST_F(SerialPortTest, PendingByteGoesOutOnceTheDeviceTakesIt)
{
    ASSERT_TRUE(m_link.Open(kPort, 9600, 8, 0));
    const std::size_t filled = FillUntilFull(m_pty.slave());
    ASSERT_GT(filled, 0U);
    std::string drained;
    std::thread reader([&] {
        std::this_thread::sleep_for(200ms);
        drained = m_pty.read(filled + 1, 10s);
    });
    EXPECT_EQ(m_link.WriteBytes("Z", 1), 1);
    reader.join();
    EXPECT_EQ(drained, std::string(filled, 'f') + "Z");
}

TEST_F(SerialPortTest, PendingByteIsGivenUpWhenNobodyReads)
{
    ASSERT_TRUE(m_link.Open(kPort, 9600, 8, 0));
    FillUntilFull(m_pty.slave());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(m_link.WriteByte('Z'));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST_F(SerialPortTest, VanishedPeerCostsNoWaitAndStaysSilent)
{
    ASSERT_TRUE(m_link.Open(kPort, 9600, 8, 0));
    FillUntilFull(m_pty.slave());
    // The cable is pulled while the link waits for room in the middle of a line.
    std::thread puller([&] {
        std::this_thread::sleep_for(300ms);
        m_pty.closeMaster();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_link.WriteBytes(kClusterLine.data(), 75), 75);
    EXPECT_EQ(m_link.WriteBytes("\r\n", 2), 2);
    puller.join();
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(m_link.WriteBytes(kClusterLine.data(), 75), 75);
    }
    // 1000 ms for each of these 7577 bytes would be hours; a few seconds means no byte waited.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_TRUE(m_link.Close());
}

TEST_F(SerialPortTest, DeviceThatVanishedAndCameBackOpensAgain)
{
    ASSERT_TRUE(m_link.Open(kPort, 9600, 8, 0));
    EXPECT_EQ(m_link.WriteBytes(kClusterLine.data(), 40), 40);
    m_pty.closeMaster();
    EXPECT_EQ(m_link.WriteBytes(kClusterLine.data() + 40, 35), 35);
    m_link.Close();

    PtyPair replacement;
    replacement.linkAsComPort(kPort);
    ASSERT_TRUE(m_link.Open(kPort, 9600, 8, 0));
    EXPECT_EQ(m_link.WriteBytes(kClusterLine.data(), 75), 75);
    EXPECT_EQ(m_link.WriteBytes("\r\n", 2), 2);
    EXPECT_EQ(replacement.read(77), kClusterLine + "\r\n");
}

} // namespace
