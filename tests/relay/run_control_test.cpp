#include "relay_rig.h"

#include <climits>
#include <filesystem>
#include <string>
#include <termios.h>

#include <gtest/gtest.h>

namespace {

using namespace relay_test;

struct PortText
{
    const char* name;
    const char* text;
    int port;
};

class PortNumber : public ::testing::TestWithParam<PortText>
{
};

TEST_P(PortNumber, ReadAfterTheThirdCharacter)
{
    EXPECT_EQ(PortNumberOf(GetParam().text), GetParam().port);
}

const PortText kPortTexts[] = {
    {"TwoDigits", "COM12", 12},
    {"None", "None", 0},
    {"Zero", "COM0", 0},
    {"NoDigits", "COMX", 0},
    {"Empty", "", 0},
    {"LeadingWhiteSpace", "COM \t5", 5},
    {"PlusSign", "COM+7", 7},
    {"MinusSign", "COM-1", -1},
    {"StopsAtNonDigit", "COM3x4", 3},
    {"SpaceAfterSign", "COM- 1", 0},
    {"HugeSaturatesInsteadOfWrapping", "COM4294967296", INT_MAX},
};

INSTANTIATE_TEST_SUITE_P(Ports, PortNumber, ::testing::ValuesIn(kPortTexts),
                         [](const auto& row) { return std::string(row.param.name); });

struct LinkCase
{
    const char* name;
    std::int32_t speed, bits, parity;
    bool speedKnown;
    std::uint32_t baud;
    std::uint8_t byteSize, parityCode;
};

class LinkValues : public ::testing::TestWithParam<LinkCase>
{
};

TEST_P(LinkValues, DerivedFromTheSettings)
{
    RelaySettings settings;
    settings.Speed = GetParam().speed;
    settings.Bits = GetParam().bits;
    settings.Parity = GetParam().parity;
    const LinkParameters link = DeriveLinkParameters(settings);
    EXPECT_EQ(link.speedKnown, GetParam().speedKnown);
    if (link.speedKnown) {
        EXPECT_EQ(link.baud, GetParam().baud);
    }
    EXPECT_EQ(link.byteSize, GetParam().byteSize);
    EXPECT_EQ(link.parity, GetParam().parityCode);
}

const LinkCase kLinkCases[] = {
    {"Speed0Is1200", 0, 1, 0, true, 1200, 8, 0},          {"Speed4Is19200", 4, 1, 0, true, 19200, 8, 0},
    {"SpeedMinus1HasNoRate", -1, 1, 0, false, 0, 8, 0},   {"Speed5HasNoRate", 5, 1, 0, false, 0, 8, 0},
    {"Bits0IsSeven", 3, 0, 0, true, 9600, 7, 0},          {"Bits2IsEight", 3, 2, 0, true, 9600, 8, 0},
    {"ParityLowByteOnly", 3, 1, 0x102, true, 9600, 8, 2},
};

INSTANTIATE_TEST_SUITE_P(Settings, LinkValues, ::testing::ValuesIn(kLinkCases),
                         [](const auto& row) { return std::string(row.param.name); });

class RunControl : public ::testing::Test
{
protected:
    // A port whose link points at a device that does not exist.
    void LinkMissingDevice(int port) const
    {
        const std::filesystem::path dir = ComPortLinkDirectory();
        std::filesystem::create_directories(dir);
        std::filesystem::create_symlink(m_rig.Dir() / "no-such-tty", dir / ("COM" + std::to_string(port)));
    }

    speed_t LineSpeed() const
    {
        termios tio {};
        EXPECT_EQ(tcgetattr(m_rig.pty->slave(), &tio), 0);
        return cfgetospeed(&tio);
    }

    RelayRig m_rig;
    SpotRelay& m_relay = m_rig.relay;
    testing_support::FakeWindow& m_window = m_rig.window;
};

TEST_F(RunControl, StartOpensTheLinkAndArmsTheTimerStopUndoesBoth)
{
    m_rig.settings.Speed = 0;
    m_relay.ToggleRun();
    EXPECT_TRUE(m_relay.IsRunning());
    EXPECT_TRUE(m_window.timerArmed);
    EXPECT_TRUE(m_relay.SerialPort().IsOpen());
    EXPECT_EQ(m_window.runCaption, "Stop");
    EXPECT_EQ(LineSpeed(), B1200);
    EXPECT_TRUE(m_window.messages.empty());

    m_relay.ToggleRun();
    EXPECT_FALSE(m_relay.IsRunning());
    EXPECT_FALSE(m_window.timerArmed);
    EXPECT_FALSE(m_relay.SerialPort().IsOpen());
    EXPECT_EQ(m_window.runCaption, "Run");
}

TEST_F(RunControl, PortNoneRunsWithoutALink)
{
    m_rig.settings.Port = "None";
    m_relay.ToggleRun();
    EXPECT_TRUE(m_relay.IsRunning());
    EXPECT_FALSE(m_relay.SerialPort().IsOpen());
    EXPECT_TRUE(m_window.messages.empty());
    m_rig.source.bodies = {Page({kLineN0})};
    m_relay.OnTimer();
    EXPECT_EQ(m_relay.HistoryCount(), 1);

    m_relay.ToggleRun();
    EXPECT_EQ(m_window.killTimerCalls, 1);
    EXPECT_EQ(m_window.runCaption, "Run");
}

struct FailedStart
{
    const char* name;
    const char* port;
    std::int32_t speed;
};

class StartFailure : public RunControl, public ::testing::WithParamInterface<FailedStart>
{
};

TEST_P(StartFailure, ReportsAndStaysStopped)
{
    LinkMissingDevice(9);
    m_rig.settings.Port = GetParam().port;
    m_rig.settings.Speed = GetParam().speed;
    m_relay.ToggleRun();
    EXPECT_EQ(m_window.messages, std::vector<std::string> {"Error opening serial communication"});
    EXPECT_FALSE(m_relay.IsRunning());
    EXPECT_EQ(m_window.setTimerCalls, 0);
    EXPECT_FALSE(m_relay.SerialPort().IsOpen());
    EXPECT_EQ(m_window.runCaption, "&Run");
}

const FailedStart kFailedStarts[] = {
    {"DeviceMissing", "COM9", 3},
    {"NegativePort", "COM-1", 3},
    {"SpeedBelowTable", "COM7", -1},
    {"SpeedAboveTable", "COM7", 5},
    {"SpeedAboveTableWithoutPort", "None", 5},
};

INSTANTIATE_TEST_SUITE_P(Starts, StartFailure, ::testing::ValuesIn(kFailedStarts),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(RunControl, FailedOpenAfterAStopKeepsCaptionRun)
{
    m_relay.ToggleRun();
    m_relay.ToggleRun();
    m_rig.settings.Port = "COM-1";
    m_relay.ToggleRun();
    EXPECT_EQ(m_window.runCaption, "Run");
    EXPECT_FALSE(m_relay.IsRunning());
}

TEST_F(RunControl, TimerFailureHoldsTheLinkUntilTheNextStart)
{
    m_rig.settings.Speed = 1;
    m_window.failSetTimer = true;
    m_relay.ToggleRun();
    EXPECT_EQ(m_window.messages, std::vector<std::string> {"Can't install a system timer"});
    EXPECT_FALSE(m_relay.IsRunning());
    EXPECT_TRUE(m_relay.SerialPort().IsOpen());
    EXPECT_EQ(m_window.runCaption, "&Run");

    // The held link keeps the settings it was opened with.
    m_rig.settings.Speed = 4;
    m_window.failSetTimer = false;
    m_relay.ToggleRun();
    EXPECT_TRUE(m_relay.IsRunning());
    EXPECT_EQ(m_window.runCaption, "Stop");
    EXPECT_EQ(LineSpeed(), B2400);
}

TEST_F(RunControl, TimerFailureWithoutPortLeavesNothingOpen)
{
    m_rig.settings.Port = "None";
    m_window.failSetTimer = true;
    m_relay.ToggleRun();
    EXPECT_EQ(m_window.messages, std::vector<std::string> {"Can't install a system timer"});
    EXPECT_FALSE(m_relay.IsRunning());
    EXPECT_FALSE(m_relay.SerialPort().IsOpen());
}

TEST_F(RunControl, TickFetchesTheConfiguredUrlAndProcessesThePage)
{
    m_rig.settings.URL = "http://127.0.0.1:1/dxs/dx25.html?";
    m_rig.source.bodies = {Page({kLineN0})};
    m_rig.Start();
    m_relay.OnTimer();
    EXPECT_EQ(m_rig.source.urls, std::vector<std::string> {"http://127.0.0.1:1/dxs/dx25.html?"});
    EXPECT_EQ(m_rig.Log(), std::vector<std::string> {kClusterN0});
}

TEST_F(RunControl, TickArrivingInsideATickIsDropped)
{
    m_rig.source.bodies = {"", Page({kLineN0})};
    // The fetch shows a box, whose loop delivers the next timer message.
    m_rig.source.duringFetch = [](RelayWindow& window) { window.ShowMessage("Unable to locate url"); };
    int nested = 0;
    m_window.whileBoxOpen = [&] {
        ++nested;
        m_relay.OnTimer();
    };
    m_rig.Start();
    m_relay.OnTimer();
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(m_rig.source.urls.size(), 1u);
    EXPECT_EQ(m_rig.Log(), std::vector<std::string> {kInvalidPage});

    m_window.whileBoxOpen = nullptr;
    m_relay.OnTimer();
    EXPECT_EQ(m_rig.source.urls.size(), 2u);
    EXPECT_EQ(m_relay.HistoryAt(0), kClusterN0);
}

struct SessionFailure
{
    const char* name;
    std::string text;
    std::string shown;
};

class SessionError : public RunControl, public ::testing::WithParamInterface<SessionFailure>
{
};

TEST_P(SessionError, ShownInAnErrorBoxWithTheCycleStillRunning)
{
    m_rig.source.throwSessionError = true;
    m_rig.source.sessionErrorText = GetParam().text;
    // Ticks delivered while the error box is open must not open further boxes.
    m_window.whileBoxOpen = [&] { m_relay.OnTimer(); };
    m_rig.Start();
    m_relay.OnTimer();
    EXPECT_EQ(m_window.errors, std::vector<std::string> {GetParam().shown});
    EXPECT_EQ(m_rig.source.urls.size(), 1u);
    EXPECT_TRUE(m_relay.IsRunning());
    EXPECT_TRUE(m_window.timerArmed);
    EXPECT_EQ(m_window.killTimerCalls, 0);
    EXPECT_EQ(m_window.showLogCalls, 0);

    m_rig.source.throwSessionError = false;
    m_rig.source.bodies = {Page({kLineN0})};
    m_relay.OnTimer();
    EXPECT_EQ(m_rig.Log(), std::vector<std::string> {kClusterN0});
}

const SessionFailure kSessionFailures[] = {
    {"OwnText", "The Internet session could not be created", "The Internet session could not be created"},
    {"EmptyText", "", "Internal application error."},
    {"LongTextCutTo511", std::string(600, 'e'), std::string(511, 'e')},
};

INSTANTIATE_TEST_SUITE_P(Ticks, SessionError, ::testing::ValuesIn(kSessionFailures),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
