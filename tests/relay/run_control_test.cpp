#include "relay_rig.h"
#include "serial/com_ports.h"

#include <climits>
#include <filesystem>
#include <termios.h>

namespace {

using namespace relay_test;

struct LinkCase
{
    const char* name;
    const char* port;
    std::int32_t speed, bits, parity;
    int portNumber;
    bool speedKnown;
    std::uint32_t baud;
    int byteSize, parityCode;
};

using LinkValues = ::testing::TestWithParam<LinkCase>;

TEST_P(LinkValues, DerivedFromTheSettings)
{
    const LinkCase& row = GetParam();
    const LinkParameters link = DeriveLinkParameters({"", row.port, row.speed, row.bits, row.parity, 0});
    EXPECT_EQ(std::tuple(link.port, link.speedKnown, link.baud, int {link.byteSize}, int {link.parity}),
              std::tuple(row.portNumber, row.speedKnown, row.baud, row.byteSize, row.parityCode));
}

const LinkCase kLinkCases[] = {
    {"PortTwoDigits", "COM12", 3, 1, 0, 12, true, 9600, 8, 0},
    {"PortNone", "None", 3, 1, 0, 0, true, 9600, 8, 0},
    {"PortZero", "COM0", 3, 1, 0, 0, true, 9600, 8, 0},
    {"PortNoDigits", "COMX", 3, 1, 0, 0, true, 9600, 8, 0},
    {"PortEmpty", "", 3, 1, 0, 0, true, 9600, 8, 0},
    {"PortDigitsInTheFirstThree", " 12", 3, 1, 0, 0, true, 9600, 8, 0},
    {"PortLeadingWhiteSpace", "COM \t5", 3, 1, 0, 5, true, 9600, 8, 0},
    {"PortPlusSign", "COM+7", 3, 1, 0, 7, true, 9600, 8, 0},
    {"PortMinusSign", "COM-1", 3, 1, 0, -1, true, 9600, 8, 0},
    {"PortStopsAtNonDigit", "COM3x4", 3, 1, 0, 3, true, 9600, 8, 0},
    {"PortSpaceAfterSign", "COM- 1", 3, 1, 0, 0, true, 9600, 8, 0},
    {"PortHugeSaturates", "COM4294967296", 3, 1, 0, INT_MAX, true, 9600, 8, 0},
    {"Speed0Is1200", "None", 0, 1, 0, 0, true, 1200, 8, 0},
    {"Speed4Is19200", "None", 4, 1, 0, 0, true, 19200, 8, 0},
    {"SpeedMinus1HasNoRate", "None", -1, 1, 0, 0, false, 0, 8, 0},
    {"Speed5HasNoRate", "None", 5, 1, 0, 0, false, 0, 8, 0},
    {"Bits0IsSeven", "None", 3, 0, 0, 0, true, 9600, 7, 0},
    {"Bits2IsEight", "None", 3, 2, 0, 0, true, 9600, 8, 0},
    {"ParityLowByteOnly", "None", 3, 1, 0x102, 0, true, 9600, 8, 2},
};

INSTANTIATE_TEST_SUITE_P(Settings, LinkValues, ::testing::ValuesIn(kLinkCases), kRowName);

/// One press of Run/Stop with these settings, and what follows: state, boxes shown, line speed.
struct Press
{
    const char* port;
    std::int32_t speed;
    bool failTimer;
    const char* state;
    speed_t lineSpeed; ///< 0 when no link is open
};

struct StateCase
{
    const char* name;
    std::vector<Press> presses;
};

using RunControl = ::testing::TestWithParam<StateCase>;

TEST_P(RunControl, FollowsTheStateTable)
{
    RelayRig rig;
    std::filesystem::create_symlink(rig.dir.path() / "no-such-tty",
                                    std::filesystem::path(ComPortLinkDirectory()) / "COM9");
    for (const Press& press : GetParam().presses) {
        rig.settings.Port = press.port;
        rig.settings.Speed = press.speed;
        rig.window.failSetTimer = press.failTimer;
        rig.window.messages.clear();
        rig.relay.ToggleRun();
        const bool open = rig.relay.SerialPort().IsOpen();
        std::string state = std::string(rig.relay.IsRunning() ? "Running" : "Stopped") + (open ? " link" : "")
            + (rig.window.timerArmed ? " timer" : "") + " [" + rig.window.runCaption + "]";
        for (const std::string& message : rig.window.messages) {
            state += " " + message;
        }
        termios tio {};
        EXPECT_EQ(std::pair(state, open && tcgetattr(rig.pty->slave(), &tio) == 0 ? cfgetospeed(&tio) : 0),
                  std::pair(std::string(press.state), press.lineSpeed))
            << press.port << " " << press.speed;
    }
}

const char* const kOpenFailed = "Stopped [&Run] Error opening serial communication";

const StateCase kStateCases[] = {
    {"RunThenStop",
     {{"COM7", 0, false, "Running link timer [Stop]", B1200}, {"COM7", 0, false, "Stopped [Run]", 0}}},
    {"PortNoneRunsWithoutALink",
     {{"None", 3, false, "Running timer [Stop]", 0}, {"None", 3, false, "Stopped [Run]", 0}}},
    {"DeviceMissing", {{"COM9", 3, false, kOpenFailed, 0}}},
    {"NegativePort", {{"COM-1", 3, false, kOpenFailed, 0}}},
    {"SpeedBelowTable", {{"COM7", -1, false, kOpenFailed, 0}}},
    {"SpeedAboveTable", {{"COM7", 5, false, kOpenFailed, 0}}},
    {"SpeedAboveTableWithoutPort", {{"None", 5, false, kOpenFailed, 0}}},
    {"FailedOpenAfterAStopKeepsCaptionRun",
     {{"COM7", 3, false, "Running link timer [Stop]", B9600},
      {"COM7", 3, false, "Stopped [Run]", 0},
      {"COM-1", 3, false, "Stopped [Run] Error opening serial communication", 0}}},
    {"TimerFailureHoldsTheLinkWhichRunsWithItsFirstSettings",
     {{"COM7", 1, true, "Stopped link [&Run] Can't install a system timer", B2400},
      {"COM7", 4, false, "Running link timer [Stop]", B2400}}},
    {"TimerFailureWithoutPortLeavesNothingOpen",
     {{"None", 3, true, "Stopped [&Run] Can't install a system timer", 0}}},
};

INSTANTIATE_TEST_SUITE_P(Presses, RunControl, ::testing::ValuesIn(kStateCases), kRowName);

struct SessionFailure
{
    const char* name;
    std::string text, shown;
};

using SessionError = ::testing::TestWithParam<SessionFailure>;

TEST_P(SessionError, ShownInOneBoxTicksMeanwhileDroppedCycleKeepsRunning)
{
    RelayRig rig;
    rig.settings.URL = "http://127.0.0.1:1/dxs/dx25.html?";
    rig.source.sessionError = GetParam().text;
    // The open box's message loop delivers further ticks; each would open another box.
    rig.window.whileBoxOpen = [&] {
        if (rig.window.errors.size() < 3) {
            rig.relay.OnTimer();
        }
    };
    rig.Start();
    rig.Ticks(1);
    EXPECT_EQ(rig.window.errors, Lines {GetParam().shown});
    EXPECT_EQ(rig.source.urls, Lines {rig.settings.URL});
    EXPECT_TRUE(rig.relay.IsRunning() && rig.window.timerArmed);
    rig.source.sessionError.reset();
    rig.source.bodies = {Page({kN0})};
    rig.Ticks(1);
    EXPECT_EQ(rig.Log(), Lines {kDxN0}); // the failed tick logged nothing
}

const SessionFailure kSessionFailures[] = {
    {"OwnText", "The Internet session could not be created", "The Internet session could not be created"},
    {"EmptyText", "", "Internal application error."},
    {"LongTextCutTo511", std::string(600, 'e'), std::string(511, 'e')},
};

INSTANTIATE_TEST_SUITE_P(Ticks, SessionError, ::testing::ValuesIn(kSessionFailures), kRowName);

} // namespace
