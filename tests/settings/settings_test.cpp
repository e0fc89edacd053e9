#include "settings/settings_store.h"
#include "support/temp_dir.h"

#include <cerrno>
#include <fstream>
#include <sstream>
#include <utility>

#include <gtest/gtest.h>

namespace {

// DxccFilter holds a bit above the six continents; the URL a comma and a blank; the node serves
// every IPv6 and IPv4 address; the watch list holds a comma.
// clang-format off
const RelaySettings kChanged {"http://127.0.0.1:8080/dxs/dx25.html?a=1,b 2", "COM12", 4, 0, 2, 69, 0, "::", "DL1ABC",
                              33, 5, "VP8*, 3Y0J", 10};
// clang-format on

// Loading replaces every field, whatever the record held before; the report comes after the "|".
const auto Loaded = [](const std::filesystem::path& file) {
    RelaySettings s = kChanged;
    const std::string report = LoadSettings(s, file.string());
    return std::pair(s, report.empty() ? "" : report.substr(report.find(": ") + 2));
};
const auto Expected = [](const RelaySettings& s, const std::string& report) { return std::pair(s, report); };

TEST(SettingsStore, SavedFileLoadsAsSaved)
{
    const testing_support::TempDir dir;
    const auto file = dir.path() / "Quarnel.conf";
    SaveSettings(kChanged, file.string());
    // The INI writer sorts the keys of a group, whatever the order they were written in.
    EXPECT_EQ((std::ostringstream() << std::ifstream(file).rdbuf()).str(),
              "[Settings]\nBands=33\nBits=0\nCall=DL1ABC\nClusterAddress=::\nClusterPort=0\nDxccFilter="
              "69\nModes=5\nParity=2\n"
              "Port=COM12\nSkimmerRepeat=10\nSpeed=4\nURL=\"http://127.0.0.1:8080/dxs/dx25.html?a=1,b 2\"\n"
              "WatchList=\"VP8*, 3Y0J\"\n");
    EXPECT_EQ(Loaded(file), Expected(kChanged, ""));
}

// What cannot be read gives the defaults and is named, with what is used instead.
TEST(SettingsStore, WhatCannotBeReadIsNamedAndGivesTheDefaults)
{
    const testing_support::TempDir dir;
    const RelaySettings defaults {
        "http://www.dxsummit.fi/dxs/dx25.html?", "None", 3, 1, 1, 0, 7300, "127.0.0.1"};
    std::filesystem::create_directory(dir.path() / "folder.conf");
    EXPECT_EQ(Loaded(dir.path() / "absent.conf"), Expected(defaults, ""));
    EXPECT_EQ(Loaded(dir.path() / "folder.conf"),
              Expected(defaults, "cannot be read (Is a directory), the defaults are used"));
    EXPECT_EQ(Loaded(dir.write("other.conf", "[Other]\nPort=COM1\n")),
              Expected(defaults, "no [Settings] group, the defaults are used"));
    // Not a number, an unquoted comma (read as a list), a number beyond 32 bits, a device path, a
    // band mask out of range (kept, treated as off); a watch list may hold unquoted commas.
    RelaySettings withPath = defaults;
    withPath.Port = "/dev/ttyUSB0";
    withPath.Bands = 9000;
    withPath.WatchList = "VP8*,3Y0J";
    EXPECT_EQ(Loaded(dir.write(
                  "bad.conf",
                  "[Settings]\nSpeed=abc\nURL=a,b\nBits=4294967296\nPort=/dev/ttyUSB0\n"
                  "ClusterPort=7300x\nClusterAddress=127.0.0.1,::1\nBands=9000\nWatchList=VP8*, 3Y0J\n")),
              Expected(withPath,
                       "URL cannot be read, \"http://www.dxsummit.fi/dxs/dx25.html?\" is used; "
                       "Bits \"4294967296\" is no number, 1 is used; Speed \"abc\" is no number, 3 is "
                       "used; ClusterPort \"7300x\" is no number, 7300 is used; ClusterAddress cannot "
                       "be read, \"127.0.0.1\" is used; Port \"/dev/ttyUSB0\" names no COM port, None "
                       "is used; Bands 9000 is out of range (0 to 8191), treated as off"));
    // Below a plain file no folder can be made, not even by root: the save fails without a word.
    const auto unwritable = dir.write("blocker", "") / "Quarnel.conf";
    testing::internal::CaptureStderr();
    SaveSettings(kChanged, unwritable.string());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(Loaded(unwritable).first, defaults);
}

// The executable renamed with an extension keeps the settings file of its name without it.
TEST(AppIdentity, NameWithoutTheExtension)
{
    const testing_support::ScopedEnv xdg("XDG_CONFIG_HOME", "/x");
    char renamed[] = "Quarnel.bin";
    char* const name = std::exchange(program_invocation_short_name, renamed);
    EXPECT_EQ(std::pair(ApplicationName(), DefaultSettingsFile()),
              std::pair(std::string("Quarnel"), std::string("/x/tolmar/Quarnel.conf")));
    program_invocation_short_name = name;
}

} // namespace
