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

// What the link handed to tcsetattr: a pty forces CS8 and no parity, so reading it back tells nothing.
std::optional<termios> g_applied;
int RecordingTcsetattr(int fd, int actions, const termios* settings)
{
    g_applied = *settings;
    return ::tcsetattr(fd, actions, settings);
}

termios SettingsOf(int fd)
{
    termios t {};
    tcgetattr(fd, &t);
    return t;
}

// True when another program could not take the device (TIOCEXCL, or the lock when running as root).
bool HeldAgainstOthers(const std::string& device)
{
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const bool refused = fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);
    return refused;
}

// Fills the pty from the test's own descriptor: the link's next byte has to wait.
std::size_t FillUntilFull(int slave)
{
    fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
    std::size_t total = 0;
    for (ssize_t n = 0; (n = write(slave, "ffffffff", 8)) > 0;) {
        total += static_cast<std::size_t>(n);
    }
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
        m_pty.linkAsComPort(kPort);
    }
    ~SerialPortTest() override { serial_detail::tcsetattrCall = ::tcsetattr; }

    testing_support::TempDir m_config;
    testing_support::ScopedEnv m_xdg {"XDG_CONFIG_HOME", m_config.path().string()};
    PtyPair m_pty;
    CSerialPort m_link;
};

template <class Row>
class SerialPortRowTest : public SerialPortTest, public ::testing::WithParamInterface<Row>
{
};

TEST_F(SerialPortTest, BytesGoOutExactlyAsGiven)
{
    ASSERT_EQ(kClusterLine.size(), 75U);
    ASSERT_TRUE(m_link.Open(kPort, 9600, 8, 0));
    EXPECT_EQ(m_link.WriteBytes(kClusterLine.data(), 75), 75);
    EXPECT_EQ(m_link.WriteBytes("\r\n", 2), 2);
    EXPECT_EQ(m_link.WriteBytes("\n", 1), 1);
    // With output post-processing left on, each "\n" would arrive as "\r\n".
    EXPECT_EQ(m_pty.readAll(), kClusterLine + "\r\n\n");
}

// Speed and its termios code, data bits, parity code, two stop bits and flow control set beforehand.
using LineSettingsTest
    = SerialPortRowTest<std::tuple<std::pair<std::uint32_t, speed_t>, std::uint8_t, std::uint8_t, bool>>;

TEST_P(LineSettingsTest, OpenAppliesSpeedBitsParityAndKeepsStopBitsAndFlowControl)
{
    const auto& [speed, bits, parity, kept] = GetParam();
    const tcflag_t keptC = kept ? CSTOPB | CRTSCTS : 0, keptI = kept ? IXON | IXOFF : 0;
    termios before = SettingsOf(m_pty.slave());
    before.c_cflag = (before.c_cflag & ~(CSTOPB | CRTSCTS)) | keptC;
    before.c_iflag = (before.c_iflag & ~(IXON | IXOFF)) | keptI;
    ASSERT_EQ(::tcsetattr(m_pty.slave(), TCSANOW, &before), 0);

    ASSERT_TRUE(m_link.Open(kPort, speed.first, bits, parity));
    const termios readBack = SettingsOf(m_pty.slave());
    EXPECT_EQ(cfgetospeed(&readBack), speed.second);
    ASSERT_TRUE(g_applied);
    EXPECT_EQ(cfgetispeed(&*g_applied), speed.second);
    const tcflag_t parityFlags[] = {0, PARENB | PARODD, PARENB};
    EXPECT_EQ(g_applied->c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CLOCAL | CSTOPB | CRTSCTS),
              (bits == 8 ? CS8 : CS7) | parityFlags[parity] | CLOCAL | keptC);
    EXPECT_EQ(g_applied->c_iflag & (IXON | IXOFF), keptI);
}

const std::pair<std::uint32_t, speed_t> kSpeeds[]
    = {{1200, B1200}, {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200}};

INSTANTIATE_TEST_SUITE_P(EverySpeedBitsParity, LineSettingsTest,
                         ::testing::Combine(::testing::ValuesIn(kSpeeds),
                                            ::testing::Range(std::uint8_t {7}, std::uint8_t {9}),
                                            ::testing::Range(std::uint8_t {0}, std::uint8_t {3}),
                                            ::testing::Bool()),
                         [](const auto& row) {
                             const auto& p = row.param;
                             return std::to_string(std::get<0>(p).first) + "_"
                                 + std::to_string(std::get<1>(p)) + "NOE"[std::get<2>(p)]
                                 + (std::get<3>(p) ? "_TwoStopBitsFlowControl" : "");
                         });

TEST_F(SerialPortTest, OpenLinkIsExclusiveAndKeepsItsFirstSettings)
{
    ASSERT_TRUE(m_link.Open(kPort, 9600, 8, 0));
    EXPECT_TRUE(m_link.Open(kPort, 19200, 7, 2));
    EXPECT_TRUE(m_link.Open(99, 19200, 7, 2));
    const termios readBack = SettingsOf(m_pty.slave());
    EXPECT_EQ(cfgetospeed(&readBack), static_cast<speed_t>(B9600));
    EXPECT_EQ(g_applied->c_cflag & (CSIZE | PARENB), static_cast<tcflag_t>(CS8));

    CSerialPort second;
    EXPECT_FALSE(second.Open(kPort, 9600, 8, 0));
    EXPECT_TRUE(HeldAgainstOthers(m_pty.slavePath()));

    EXPECT_TRUE(m_link.Close());
    EXPECT_TRUE(m_link.Close());
    EXPECT_EQ(m_link.WriteBytes("x", 1), 0);
    EXPECT_FALSE(HeldAgainstOthers(m_pty.slavePath()));
    ASSERT_TRUE(m_link.Open(kPort, 2400, 8, 0)) << "reopen after close";
    EXPECT_EQ(m_link.WriteBytes("ok", 2), 2);
    EXPECT_EQ(m_link.WriteBytes("ok", 0), 0);
    EXPECT_EQ(m_link.WriteBytes("ok", -3), 0);
    EXPECT_EQ(m_link.WriteBytes(nullptr, 2), 0);
    EXPECT_EQ(m_pty.readAll(), "ok");
}

// A pty drops parity, which the C library then calls invalid; Configure-Cancel reopens like this.
TEST_F(SerialPortTest, PtyReopensWithParity)
{
    for (const std::uint8_t parity : {1, 2, 1}) {
        EXPECT_TRUE(m_link.Open(kPort, 9600, 7, parity)) << "parity " << int(parity);
        m_link.WriteBytes("ok", 2);
        m_link.Close();
    }
    EXPECT_EQ(m_pty.readAll(), "okokok");
}

// Row name, port, speed, data bits, parity code.
using FailedOpenTest = SerialPortRowTest<std::tuple<const char*, int, std::uint32_t, int, int>>;

TEST_P(FailedOpenTest, HoldsNothingAndWritesNothing)
{
    const std::filesystem::path ports = ComPortLinkDirectory();
    std::filesystem::create_symlink(m_config.path() / "gone", ports / "COM20");
    std::filesystem::create_symlink(m_config.write("plain", "not a device"), ports / "COM21");
    std::filesystem::create_symlink("/dev/null", ports / "COM22");
    ASSERT_FALSE(std::filesystem::exists(ComPortDevice(160))) << "COM160 must be missing here";

    const auto& [name, port, baud, bits, parity] = GetParam();
    EXPECT_FALSE(m_link.Open(port, baud, static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(parity)));
    EXPECT_EQ(m_link.WriteBytes(kClusterLine.data(), 75), 0);
    EXPECT_EQ(m_pty.readAll(), "");
    EXPECT_FALSE(HeldAgainstOthers(m_pty.slavePath()));
}

const std::tuple<const char*, int, std::uint32_t, int, int> kFailedOpens[]
    = {{"MissingDevice", 160, 9600, 8, 0},     {"DanglingLink", 20, 9600, 8, 0},
       {"RegularFile", 21, 9600, 8, 0},        {"NotATerminal", 22, 9600, 8, 0},
       {"OutsideEveryTable", 250, 9600, 8, 0}, {"Speed38400", 7, 38400, 8, 0},
       {"NineDataBits", 7, 9600, 9, 0},        {"ParityCode5", 7, 9600, 8, 5}};

INSTANTIATE_TEST_SUITE_P(SerialPort, FailedOpenTest, ::testing::ValuesIn(kFailedOpens),
                         [](const auto& row) { return std::string(std::get<0>(row.param)); });

TEST_F(SerialPortTest, PendingByteGoesOutVanishedPeerCostsNoWaitAndTheDeviceThatCameBackOpensAgain)
{
    ASSERT_TRUE(m_link.Open(kPort, 9600, 8, 0));
    const std::size_t filled = FillUntilFull(m_pty.slave());
    std::string drained;
    // Drains the full pty once, then pulls the cable while the link waits for room again mid-line.
    std::thread peer([&] {
        std::this_thread::sleep_for(200ms);
        drained = m_pty.read(filled + 1, 10s);
        std::this_thread::sleep_for(300ms);
        m_pty.closeMaster();
    });
    EXPECT_EQ(m_link.WriteBytes("Z", 1), 1);
    FillUntilFull(m_pty.slave());
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(m_link.WriteBytes(kClusterLine.data(), 75), 75);
    }
    peer.join();
    EXPECT_EQ(drained, std::string(filled, 'f') + "Z");
    // A wait of 1000 ms per byte for these 7500 bytes would take hours.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    m_link.Close();

    PtyPair replacement;
    replacement.linkAsComPort(kPort);
    ASSERT_TRUE(m_link.Open(kPort, 9600, 8, 0));
    EXPECT_EQ(m_link.WriteBytes(kClusterLine.data(), 75), 75);
    EXPECT_EQ(replacement.read(75), kClusterLine);
}

} // namespace
