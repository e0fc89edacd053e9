#include "relay_rig.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using namespace relay_test;
using testing_support::FakePageSource;
using testing_support::FakeWindow;

class SpotLog : public ::testing::Test
{
protected:
    FakeWindow m_window;
    FakePageSource m_source;
    RelaySettings m_settings;
    SpotRelay m_relay {m_window, m_source, m_settings};
};

TEST_F(SpotLog, WindowGetsTheWholeTextOldestFirstWithTheLastCarriageReturnSelected)
{
    m_relay.AddLogLine("first");
    EXPECT_EQ(m_window.logText, "first\r\n");
    EXPECT_EQ(m_window.selStart, 5);
    EXPECT_EQ(m_window.selEnd, 6);

    m_relay.AddLogLine("second");
    EXPECT_EQ(m_window.logText, "first\r\nsecond\r\n");
    EXPECT_EQ(m_relay.LogText(), m_window.logText);
    EXPECT_EQ(m_window.selStart, 13);
    EXPECT_EQ(m_window.selEnd, 14);
    EXPECT_EQ(m_window.showLogCalls, 2);
    EXPECT_EQ(m_relay.HistoryAt(0), "second");
}

TEST_F(SpotLog, InvalidPageAsNewestEndsInTwoLineEnds)
{
    m_relay.AddLogLine("spot");
    m_relay.ProcessSpotPage("no block here");
    EXPECT_EQ(m_window.logText, "spot\r\nReceived unvalid page\r\n\r\n");
    const int length = static_cast<int>(m_window.logText.size());
    EXPECT_EQ(m_window.selStart, length - 2);
    EXPECT_EQ(m_window.selEnd, length - 1);
    EXPECT_EQ(m_window.logText[static_cast<std::size_t>(m_window.selStart)], '\r');
}

TEST_F(SpotLog, HundredthEntryPushesOutTheFirst)
{
    for (int i = 1; i <= 99; ++i) {
        m_relay.AddLogLine(std::to_string(i));
    }
    EXPECT_EQ(m_relay.HistoryCount(), 99);
    EXPECT_EQ(m_relay.HistoryAt(98), "1");

    m_relay.AddLogLine("100");
    EXPECT_EQ(m_relay.HistoryCount(), 99);
    EXPECT_EQ(m_relay.HistoryAt(0), "100");
    EXPECT_EQ(m_relay.HistoryAt(98), "2");
    EXPECT_EQ(m_window.logText.substr(0, 6), "2\r\n3\r\n");
    EXPECT_EQ(m_window.logText.substr(m_window.logText.size() - 9), "99\r\n100\r\n");
}

TEST_F(SpotLog, NinetyNineFailedPagesLeaveNoSpotInMemory)
{
    m_relay.ProcessSpotPage(Page({kLineN0, kLineXB}));
    for (int i = 0; i < 98; ++i) {
        m_relay.ProcessSpotPage("");
    }
    EXPECT_EQ(m_relay.HistoryCount(), 99);
    EXPECT_EQ(m_relay.HistoryAt(98), kClusterXB);

    m_relay.ProcessSpotPage("");
    for (int i = 0; i < m_relay.HistoryCount(); ++i) {
        ASSERT_EQ(m_relay.HistoryAt(i), kInvalidPage) << i;
    }
    m_relay.ProcessSpotPage(Page({kLineN0, kLineXB}));
    EXPECT_EQ(m_relay.HistoryAt(1), kClusterN0);
    EXPECT_EQ(m_relay.HistoryAt(0), kClusterXB);
}

TEST_F(SpotLog, BlockOfMoreThanNinetyNineSpotsForgetsItsOwnFirstLines)
{
    std::vector<std::string> lines;
    for (int i = 0; i < 100; ++i) {
        std::string line = kLineN0;
        line.replace(22, 3, std::to_string(100 + i)); // the DX calls N1C100 ... N1C199
        lines.push_back(line);
    }
    m_relay.ProcessSpotPage(Page(lines));
    EXPECT_EQ(m_relay.HistoryCount(), 99);
    const std::string first = m_relay.HistoryAt(98);
    EXPECT_NE(first.find("N1C101"), std::string::npos) << first;

    // The first line is new again, and logging it pushes out the next one: the whole block
    // comes back as new.
    m_relay.ProcessSpotPage(Page(lines));
    EXPECT_EQ(m_window.showLogCalls, 200);
    EXPECT_NE(m_relay.HistoryAt(0).find("N1C199"), std::string::npos);
}

TEST_F(SpotLog, StartAndStopLeaveTheLogAlone)
{
    m_relay.ProcessSpotPage(Page({kLineN0}));
    m_relay.ToggleRun();
    m_relay.ToggleRun();
    m_relay.ProcessSpotPage(Page({kLineN0}));
    EXPECT_EQ(m_relay.HistoryCount(), 1);
    EXPECT_EQ(m_window.showLogCalls, 1);
}

} // namespace
