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

const std::string kClusterLine
    = "DX de N0CALL:     14025.0  N1CALL       CW 599 strong signal          1234Z";

// What the link handed to tcsetattr (a pty forces CS8 and no parity, so reading it back tells nothing).
std::optional<termios> g_applied;
int g_applyCount = 0;
int RecordingTcsetattr(int fd, int actions, const termios* settings)
{
    g_applied = *settings;
    ++g_applyCount;
    return ::tcsetattr(fd, actions, settings);
}

termios SettingsOf(int fd)
{
    termios t {};
    tcgetattr(fd, &t);
    return t;
}

// True when a second program could not take the device for itself (TIOCEXCL, or the lock for root).
bool RefusedToOthers(const std::string& device)
{
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const bool refused = fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (fd >= 0) {
        close(fd);
    }
    return refused;
}

// Fills the pty from the test's own descriptor until it takes no more: the link's next byte is pending.
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

    testing_support::TempDir m_config;
    testing_support::ScopedEnv m_xdg {"XDG_CONFIG_HOME", m_config.path().string()};
    PtyPair m_pty;
    CSerialPort m_link;
};

TEST_F(SerialPortTest, BytesGoOutExactlyAsGiven)
{
    ASSERT_EQ(kClusterLine.size(), 75U);
    ASSERT_TRUE(m_link.Open(kPort, 9600, 8, 0));
    EXPECT_EQ(m_link.WriteBytes(kClusterLine.data(), 75), 75);
    EXPECT_EQ(m_link.WriteBytes("\r\n", 2), 2);
    EXPECT_EQ(m_pty.read(77), kClusterLine + "\r\n");
    // The pty starts with output post-processing on: a lone "\n" would come out as "\r\n".
    EXPECT_EQ(m_link.WriteBytes("\n", 1), 1);
    EXPECT_EQ(m_pty.readAll(), "\n");
    EXPECT_EQ(g_applied->c_oflag & OPOST, 0U);
    EXPECT_NE(g_applied->c_cflag & CLOCAL, 0U);
}

class KeptSettingsTest : public SerialPortTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(KeptSettingsTest, StopBitsAndFlowControlStayAsThePortHadThem)
{
    const bool set = GetParam();
    termios before = SettingsOf(m_pty.slave());
    const tcflag_t cflags = CSTOPB | CRTSCTS, iflags = IXON | IXOFF;
    before.c_cflag = set ? before.c_cflag | cflags : before.c_cflag & ~cflags;
    before.c_iflag = set ? before.c_iflag | iflags : before.c_iflag & ~iflags;
    ASSERT_EQ(::tcsetattr(m_pty.slave(), TCSANOW, &before), 0);
    ASSERT_TRUE(m_link.Open(kPort, 4800, 7, 1));
    ASSERT_TRUE(g_applied);
    EXPECT_EQ(g_applied->c_cflag & cflags, set ? cflags : 0);
    EXPECT_EQ(g_applied->c_iflag & iflags, set ? iflags : 0);
    EXPECT_EQ(SettingsOf(m_pty.slave()).c_cflag & CSTOPB, set ? CSTOPB : 0U);
}

INSTANTIATE_TEST_SUITE_P(SerialPort, KeptSettingsTest, ::testing::Bool(), [](const auto& row) {
    return row.param ? std::string("TwoStopBitsAndFlowControl") : std::string("OneStopBitNoFlowControl");
});

struct Speed
{
    std::uint32_t baud;
    speed_t code;
};
const Speed kSpeeds[] = {{1200, B1200}, {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200}};

class LineSettingsTest : public SerialPortTest,
                         public ::testing::WithParamInterface<std::tuple<Speed, int, int>>
{
};

TEST_P(LineSettingsTest, OpenAppliesSpeedDataBitsAndParity)
{
    const auto& [speed, bits, parity] = GetParam();
    ASSERT_TRUE(
        m_link.Open(kPort, speed.baud, static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(parity)));
    const termios readBack = SettingsOf(m_pty.slave());
    EXPECT_EQ(cfgetospeed(&readBack), speed.code);
    ASSERT_TRUE(g_applied);
    EXPECT_EQ(cfgetispeed(&*g_applied), speed.code);
    EXPECT_EQ(g_applied->c_cflag & CSIZE, bits == 8 ? CS8 : CS7);
    const tcflag_t expectedParity = parity == 0 ? 0 : parity == 1 ? PARENB | PARODD : PARENB;
    EXPECT_EQ(g_applied->c_cflag & (PARENB | PARODD | CMSPAR), expectedParity);
}

std::string LineSettingsName(const ::testing::TestParamInfo<LineSettingsTest::ParamType>& row)
{
    const auto& [speed, bits, parity] = row.param;
    return std::to_string(speed.baud) + "_" + std::to_string(bits) + "NOE"[parity];
}

INSTANTIATE_TEST_SUITE_P(EverySpeedBitsParity, LineSettingsTest,
                         ::testing::Combine(::testing::ValuesIn(kSpeeds), ::testing::Values(7, 8),
                                            ::testing::Values(0, 1, 2)),
                         LineSettingsName);

TEST_F(SerialPortTest, OpenLinkIsExclusiveAndKeepsItsFirstSettings)
{
    ASSERT_TRUE(m_link.Open(kPort, 9600, 8, 0));
    EXPECT_TRUE(m_link.Open(kPort, 19200, 7, 2));
    EXPECT_TRUE(m_link.Open(99, 19200, 7, 2));
    EXPECT_EQ(g_applyCount, 1);
    const termios readBack = SettingsOf(m_pty.slave());
    EXPECT_EQ(cfgetospeed(&readBack), static_cast<speed_t>(B9600));

    CSerialPort second;
    EXPECT_FALSE(second.Open(kPort, 9600, 8, 0));
    EXPECT_EQ(second.WriteBytes("x", 1), 0);
    EXPECT_TRUE(RefusedToOthers(m_pty.slavePath()));

    EXPECT_TRUE(m_link.Close());
    EXPECT_TRUE(m_link.Close());
    EXPECT_EQ(m_link.WriteBytes("x", 1), 0);
    EXPECT_FALSE(RefusedToOthers(m_pty.slavePath()));
    ASSERT_TRUE(m_link.Open(kPort, 2400, 8, 0)) << "reopen after close";
    EXPECT_EQ(m_link.WriteBytes("ok", 2), 2);
    EXPECT_EQ(m_link.WriteBytes("ok", 0), 0);
    EXPECT_EQ(m_link.WriteBytes("ok", -3), 0);
    EXPECT_EQ(m_link.WriteBytes(nullptr, 2), 0);
    EXPECT_EQ(m_pty.readAll(), "ok");
}

TEST_F(SerialPortTest, PtyReopensWithParity)
{
    // A pty drops parity; the C library then calls the same request again invalid. The relay's
    // Configure-Cancel cycle reopens with the same settings, so this must keep working.
    for (const std::uint8_t parity : {1, 2, 1}) {
        ASSERT_TRUE(m_link.Open(kPort, 9600, 7, parity)) << "parity " << int(parity);
        EXPECT_EQ(m_link.WriteBytes("ok", 2), 2);
        EXPECT_EQ(m_pty.readAll(), "ok");
        EXPECT_TRUE(m_link.Close());
    }
}

TEST_F(SerialPortTest, FailedOpensHoldNothingAndWriteNothing)
{
    const std::filesystem::path ports = ComPortLinkDirectory();
    std::filesystem::create_symlink(m_config.path() / "gone", ports / "COM20");
    std::filesystem::create_symlink(m_config.write("plain", "not a device"), ports / "COM21");
    std::filesystem::create_symlink("/dev/null", ports / "COM22");

    EXPECT_FALSE(m_link.Open(20, 9600, 8, 0)) << "dangling link";
    EXPECT_FALSE(m_link.Open(21, 9600, 8, 0)) << "regular file";
    EXPECT_FALSE(m_link.Open(22, 9600, 8, 0)) << "not a terminal: no settings to read";
    EXPECT_FALSE(m_link.Open(250, 9600, 8, 0)) << "outside every table";
    EXPECT_FALSE(m_link.Open(kPort, 38400, 8, 0)) << "speed outside the table";
    EXPECT_FALSE(m_link.Open(kPort, 9600, 9, 0)) << "data bits";
    EXPECT_FALSE(m_link.Open(kPort, 9600, 8, 5)) << "parity code";
    EXPECT_EQ(m_link.WriteBytes(kClusterLine.data(), 75), 0);
    EXPECT_EQ(m_pty.readAll(), "");
    EXPECT_FALSE(RefusedToOthers(m_pty.slavePath())) << "a failed open left the device held";
}

TEST_F(SerialPortTest, PendingByteGoesOutOnceTheDeviceTakesIt)
{
    ASSERT_TRUE(m_link.Open(kPort, 9600, 8, 0));
    const std::size_t filled = FillUntilFull(m_pty.slave());
    std::string drained;
    std::thread reader([&] {
        std::this_thread::sleep_for(200ms);
        drained = m_pty.read(filled + 1, 10s);
    });
    EXPECT_EQ(m_link.WriteBytes("Z", 1), 1);
    reader.join();
    EXPECT_EQ(drained, std::string(filled, 'f') + "Z");
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
    // 1000 ms for each of these 7577 bytes would be hours; seconds mean no byte waited in vain.
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
