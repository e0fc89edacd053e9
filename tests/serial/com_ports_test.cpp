#include "serial/com_ports.h"
#include "serial/com_ports_detail.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace {

using serial_detail::ProbeResult;
using testing_support::PtyPair;
using testing_support::ScopedEnv;
using testing_support::TempDir;

// A temporary link folder; the real platform calls (device-list path on Linux) put back afterwards.
class ComPortsTest : public ::testing::Test
{
protected:
    ~ComPortsTest() override { serial_detail::comPortPlatform() = serial_detail::nativeComPortPlatform(); }

    TempDir m_config;
    ScopedEnv m_xdg {"XDG_CONFIG_HOME", m_config.path().string()};
};

template <class Row> class ComPortsRowTest : public ComPortsTest, public ::testing::WithParamInterface<Row>
{
};

enum class Answer
{
    AsListed,
    Fails,
    FillsBuffer, ///< the listing, then '9' up to the buffer's end: no NUL anywhere
};

// Row name, the names the platform lists (NUL-separated), how it answers, the numbers listed.
using DeviceNamesTest = ComPortsRowTest<std::tuple<const char*, std::string, Answer, ComPortList>>;

TEST_P(DeviceNamesTest, ListsTheNumbersOfComNamesOnce)
{
    const auto& [name, listing, answer, expected] = GetParam();
    serial_detail::comPortPlatform().queryDosDevice
        = [&listing = listing, answer = answer](char* buffer, std::size_t size) {
              std::memset(buffer, '9', size);
              std::memcpy(buffer, listing.data(), listing.size());
              return answer == Answer::Fails ? 0 : answer == Answer::FillsBuffer ? size : listing.size();
          };
    ComPortList list {99, 98};
    EnumerateComPorts(list);
    EnumerateComPorts(list);
    EXPECT_EQ(list, expected);
}

using namespace std::string_literals;
INSTANTIATE_TEST_SUITE_P(
    ComPorts, DeviceNamesTest,
    ::testing::Values(std::tuple {"InOrderAnyCase", "COM1\0LPT1\0COM12\0com3\0\0"s, Answer::AsListed,
                                  ComPortList {1, 12, 3}},
                      std::tuple {"BareComSkipped", "COM\0CON\0COM4\0\0"s, Answer::AsListed, ComPortList {4}},
                      std::tuple {"NoDigitGivesZero", "COMX\0\0"s, Answer::AsListed, ComPortList {0}},
                      std::tuple {"DecimalTextRules", "COM 7\0COM+8x\0COM012\0\0"s, Answer::AsListed,
                                  ComPortList {7, 8, 12}},
                      std::tuple {"FailedQueryGivesNothing", "COM1\0\0"s, Answer::Fails, ComPortList {}},
                      std::tuple {"NameFillingTheWholeBuffer", "com5x"s, Answer::FillsBuffer,
                                  ComPortList {5}}),
    [](const auto& row) { return std::string(std::get<0>(row.param)); });

// Whether the platform version is readable (then of the family that is probed).
using ProbingTest = ComPortsRowTest<bool>;

TEST_P(ProbingTest, ProbesOneTo255AndListsHeldPorts)
{
    serial_detail::comPortPlatform().getVersion = [readable = GetParam()](unsigned long& id) {
        id = 1;
        return readable;
    };
    std::vector<std::string> probed;
    serial_detail::comPortPlatform().probeOpen = [&probed](const std::string& name) {
        probed.push_back(name);
        return name == "\\\\.\\COM3" || name == "\\\\.\\COM255" ? ProbeResult::Opened
            : name == "\\\\.\\COM7"                             ? ProbeResult::AccessDenied
                                                                : ProbeResult::Missing;
    };
    ComPortList list {5};
    EnumerateComPorts(list);
    EXPECT_EQ(list, (ComPortList {3, 7, 255}));
    ASSERT_EQ(probed.size(), 255U);
    EXPECT_EQ(probed.front() + probed.back(), "\\\\.\\COM1\\\\.\\COM255");
}

INSTANTIATE_TEST_SUITE_P(ComPorts, ProbingTest, ::testing::Bool(), [](const auto& row) {
    return row.param ? std::string("OtherPlatformFamily") : std::string("VersionUnreadable");
});

TEST_F(ComPortsTest, TtySPlaceholderWithoutUartIsNotPresent)
{
    m_config.write("ttyS1/type", "0\n");
    m_config.write("ttyS2/type", "4\n");
    // Unknown UART type, a 16550A, a type that cannot be read, not a ttyS.
    std::vector<bool> fitted;
    for (const char* device : {"/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3", "/dev/ttyUSB1"}) {
        fitted.push_back(serial_detail::IsFittedUart(device, m_config.path().string()));
    }
    EXPECT_EQ(fitted, (std::vector<bool> {false, true, true, true}));
}

// The real calls of this machine over a temporary link folder: only the linked numbers are looked at.
using LinkedPortsTest = ComPortsRowTest<bool>;

TEST_P(LinkedPortsTest, LinkedPortsArePresentOnlyWhenTheyLeadToADeviceAndComeBeforeTheFixedTable)
{
    if (GetParam()) {
        serial_detail::comPortPlatform().getVersion = [](unsigned long&) { return false; };
    }
    PtyPair free;
    PtyPair held;
    free.linkAsComPort(201);
    held.linkAsComPort(204);
    free.linkAsComPort(2);
    const std::filesystem::path ports = ComPortLinkDirectory();
    EXPECT_EQ(ports, m_config.path() / "tolmar" / program_invocation_short_name / "ports");
    const std::vector<std::string> devices {ComPortDevice(1),   ComPortDevice(2),   ComPortDevice(33),
                                            ComPortDevice(160), ComPortDevice(161), ComPortDevice(-4)};
    EXPECT_EQ(
        devices,
        (std::vector<std::string> {"/dev/ttyS0", ports / "COM2", "/dev/ttyUSB0", "/dev/rfcomm31", "", ""}));
    std::filesystem::create_symlink(m_config.path() / "gone", ports / "COM202");
    std::filesystem::create_symlink(m_config.write("plain", "x"), ports / "COM203");
    const int holder = open(held.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

    ComPortList list;
    EnumerateComPorts(list);
    close(holder);
    // 201 free, 202 dangling, 203 a regular file, 204 held by another program.
    ComPortList linked;
    std::copy_if(list.begin(), list.end(), std::back_inserter(linked), [](unsigned n) { return n > 200; });
    EXPECT_EQ(linked, (ComPortList {201, 204}));
    EXPECT_TRUE(std::all_of(list.begin(), list.end(), [](unsigned int n) { return n >= 1 && n <= 255; }));

    // Nothing stays open or locked after the call.
    const int fd = open(free.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    close(fd);
}

INSTANTIATE_TEST_SUITE_P(ComPorts, LinkedPortsTest, ::testing::Bool(), [](const auto& row) {
    return row.param ? std::string("Probing") : std::string("DeviceList");
});

} // namespace
