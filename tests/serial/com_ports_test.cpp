#include "serial/com_ports.h"
#include "serial/com_ports_detail.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace {

using serial_detail::ComPortPlatform;
using serial_detail::ProbeResult;
using testing_support::PtyPair;
using testing_support::ScopedEnv;
using testing_support::TempDir;

// Puts the real platform calls back whatever a test replaced.
class ComPortsTest : public ::testing::Test
{
protected:
    ~ComPortsTest() override { serial_detail::comPortPlatform() = serial_detail::nativeComPortPlatform(); }

    static void answerNames(std::vector<std::string> names, bool fails = false)
    {
        serial_detail::comPortPlatform().getVersion = [](unsigned long& id) {
            id = serial_detail::kPlatformDeviceList;
            return true;
        };
        serial_detail::comPortPlatform().queryDosDevice = [names, fails](char* buffer, std::size_t size) {
            std::string all;
            for (const auto& name : names) {
                all += name + '\0';
            }
            all += '\0';
            if (fails || all.size() > size) {
                return std::size_t {0};
            }
            std::memcpy(buffer, all.data(), all.size());
            return all.size();
        };
    }
};

struct DeviceNamesRow
{
    const char* name;
    std::vector<std::string> devices;
    bool queryFails;
    ComPortList expected;
};

class DeviceNamesTest : public ComPortsTest, public ::testing::WithParamInterface<DeviceNamesRow>
{
};

TEST_P(DeviceNamesTest, ListsTheNumbersOfComNames)
{
    answerNames(GetParam().devices, GetParam().queryFails);
    ComPortList list {99, 98};
    EnumerateComPorts(list);
    EXPECT_EQ(list, GetParam().expected);
    EnumerateComPorts(list);
    EXPECT_EQ(list, GetParam().expected) << "a second call rebuilds the list";
}

INSTANTIATE_TEST_SUITE_P(
    ComPorts, DeviceNamesTest,
    ::testing::Values(DeviceNamesRow {"InOrderAnyCase", {"COM1", "LPT1", "COM12", "com3"}, false, {1, 12, 3}},
                      DeviceNamesRow {"BareComSkipped", {"COM", "CON", "COM4"}, false, {4}},
                      DeviceNamesRow {"NoDigitGivesZero", {"COMX"}, false, {0}},
                      DeviceNamesRow {"DecimalTextRules", {"COM 7", "COM+8x", "COM012"}, false, {7, 8, 12}},
                      DeviceNamesRow {"FailedQueryGivesNothing", {"COM1"}, true, {}},
                      DeviceNamesRow {"EmptyList", {}, false, {}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(ComPortsTest, NameListFillingTheWholeBufferIsReadWithinIt)
{
    // No NUL anywhere in what the platform stored: one name as long as the buffer.
    serial_detail::comPortPlatform().queryDosDevice = [](char* buffer, std::size_t size) {
        std::memset(buffer, '9', size);
        std::memcpy(buffer, "com5x", 5);
        return size;
    };
    ComPortList list;
    EnumerateComPorts(list);
    EXPECT_EQ(list, (ComPortList {5}));
}

class ProbingTest : public ComPortsTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(ProbingTest, ProbesOneTo255AndCountsHeldPorts)
{
    const bool versionReadable = GetParam();
    serial_detail::comPortPlatform().getVersion = [versionReadable](unsigned long& id) {
        id = 1;
        return versionReadable;
    };
    std::vector<std::string> probed;
    serial_detail::comPortPlatform().probeOpen = [&probed](const std::string& name) {
        probed.push_back(name);
        if (name == "\\\\.\\COM3" || name == "\\\\.\\COM255") {
            return ProbeResult::Opened;
        }
        return name == "\\\\.\\COM7" ? ProbeResult::AccessDenied : ProbeResult::Missing;
    };
    ComPortList list {5};
    EnumerateComPorts(list);
    EXPECT_EQ(list, (ComPortList {3, 7, 255}));
    ASSERT_EQ(probed.size(), 255U);
    EXPECT_EQ(probed.front(), "\\\\.\\COM1");
    EXPECT_EQ(probed.back(), "\\\\.\\COM255");
}

INSTANTIATE_TEST_SUITE_P(ComPorts, ProbingTest, ::testing::Bool(), [](const auto& row) {
    return row.param ? std::string("OtherPlatformFamily") : std::string("VersionUnreadable");
});

TEST_F(ComPortsTest, DevicesComeFromLinksFirstThenTheFixedTable)
{
    TempDir config;
    ScopedEnv xdg("XDG_CONFIG_HOME", config.path().string());
    EXPECT_EQ(ComPortLinkDirectory(),
              (config.path() / "tolmar" / program_invocation_short_name / "ports").string());
    EXPECT_EQ(ComPortDevice(1), "/dev/ttyS0");
    EXPECT_EQ(ComPortDevice(33), "/dev/ttyUSB0");
    EXPECT_EQ(ComPortDevice(160), "/dev/rfcomm31");
    EXPECT_EQ(ComPortDevice(161), "");
    EXPECT_EQ(ComPortDevice(-4), "");

    PtyPair pty;
    pty.linkAsComPort(2);
    EXPECT_EQ(ComPortDevice(2), ComPortLinkDirectory() + "/COM2");

    ScopedEnv relative("XDG_CONFIG_HOME", "relative/dir");
    ScopedEnv home("HOME", config.path().string());
    EXPECT_EQ(ComPortLinkDirectory(),
              (config.path() / ".config" / "tolmar" / program_invocation_short_name / "ports").string());
}

TEST_F(ComPortsTest, TtySPlaceholderWithoutUartIsNotPresent)
{
    TempDir sys;
    sys.write("ttyS1/type", "0\n");
    sys.write("ttyS2/type", "4\n");
    const std::string classDir = sys.path().string();
    EXPECT_FALSE(serial_detail::IsFittedUart("/dev/ttyS1", classDir)) << "UART type unknown";
    EXPECT_TRUE(serial_detail::IsFittedUart("/dev/ttyS2", classDir)) << "16550A";
    EXPECT_TRUE(serial_detail::IsFittedUart("/dev/ttyS3", classDir)) << "type unreadable";
    EXPECT_TRUE(serial_detail::IsFittedUart("/dev/ttyUSB1", classDir)) << "not a ttyS";
}

// The real calls of this machine over a temporary link folder; results for its own ports vary,
// so only the linked numbers are looked at.
class LinkedPortsTest : public ComPortsTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(LinkedPortsTest, LinkedPortsArePresentOnlyWhenTheyLeadToADevice)
{
    const bool probing = GetParam();
    if (probing) {
        serial_detail::comPortPlatform().getVersion = [](unsigned long&) { return false; };
    }
    TempDir config;
    ScopedEnv xdg("XDG_CONFIG_HOME", config.path().string());
    PtyPair free;
    PtyPair held;
    free.linkAsComPort(201);
    held.linkAsComPort(204);
    const std::filesystem::path ports = ComPortLinkDirectory();
    std::filesystem::create_symlink(config.path() / "gone", ports / "COM202");
    std::filesystem::create_symlink(config.write("plain", "x"), ports / "COM203");
    const int holder = open(held.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

    ComPortList list;
    EnumerateComPorts(list);
    close(holder);
    const auto listed
        = [&list](unsigned int n) { return std::find(list.begin(), list.end(), n) != list.end(); };
    EXPECT_TRUE(listed(201));
    EXPECT_FALSE(listed(202)) << "dangling link";
    EXPECT_FALSE(listed(203)) << "regular file";
    EXPECT_TRUE(listed(204)) << "held by another program";
    EXPECT_FALSE(listed(0));
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
