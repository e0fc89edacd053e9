#include "relay_rig.h"

#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace {

using namespace relay_test;

const std::string kServerDown = "Failed to connect to 127.0.0.1 port 8080: Connection refused";

TEST(RelayFaults, SerialDeviceDisappearsAndComesBack)
{
    RelayRig rig;
    rig.source.bodies = {Page({kLineN0}), Page({kLineN0, kLineXB}), Page({kLineN0, kLineXB, kLineXA})};
    rig.Start();
    rig.relay.OnTimer();
    EXPECT_EQ(rig.Sent(), kClusterN0 + "\r\n");

    rig.pty->closeMaster();
    rig.relay.OnTimer();
    EXPECT_TRUE(rig.relay.IsRunning());
    EXPECT_EQ(rig.relay.HistoryAt(0), kClusterXB);

    // A new device under the same name; Stop and Run take it up.
    rig.pty = std::make_unique<testing_support::PtyPair>();
    rig.pty->linkAsComPort(RelayRig::kPort);
    rig.relay.ToggleRun();
    rig.Start();
    rig.relay.OnTimer();
    EXPECT_EQ(rig.Sent(), kClusterXA + "\r\n");
    EXPECT_TRUE(rig.window.messages.empty());
}

TEST(RelayFaults, WebServerDownForTwoMinutesThenBack)
{
    RelayRig rig;
    rig.source.bodies.push_back(Page({kLineN0, kLineXB}));
    rig.source.bodies.insert(rig.source.bodies.end(), 120, kServerDown);
    rig.source.bodies.push_back(Page({kLineN0, kLineXB}));
    rig.Start();
    rig.relay.OnTimer();
    EXPECT_EQ(rig.Sent(), kClusterN0 + "\r\n" + kClusterXB + "\r\n");

    for (int tick = 0; tick < 120; ++tick) {
        rig.relay.OnTimer();
    }
    EXPECT_EQ(rig.Sent(), "");
    EXPECT_EQ(rig.Log(), std::vector<std::string>(99, kInvalidPage));

    rig.relay.OnTimer();
    EXPECT_EQ(rig.Sent(), kClusterN0 + "\r\n" + kClusterXB + "\r\n");
    EXPECT_TRUE(rig.relay.IsRunning());
}

TEST(RelayFaults, CountryFileReplacedWhileRunningCountsFromTheNextSpot)
{
    RelayRig rig;
    std::string laterXB = kLineXB;
    laterXB.replace(60, 4, "1003");
    rig.settings.DxccFilter = kContinentEU;
    rig.source.bodies = {Page({kLineXB}), Page({kLineXB, laterXB})};
    rig.Start();
    rig.relay.OnTimer();
    EXPECT_EQ(rig.Sent(), kClusterXB + "\r\n");

    // Southland moves to Europe.
    std::string moved = kCountryFile;
    moved.replace(moved.find("  SA:"), 5, "  EU:");
    std::ofstream(rig.Dir() / "cty.dat", std::ios::binary | std::ios::trunc) << moved;

    rig.relay.OnTimer();
    EXPECT_EQ(rig.Sent(), "");
    EXPECT_EQ(rig.relay.HistoryCount(), 2);
}

} // namespace
