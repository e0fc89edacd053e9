#include "app/settings_store.h"
#include "support/temp_dir.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include <QSettings>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

// DxccFilter holds a bit above the six continents.
const RelaySettings kChanged {"http://127.0.0.1:8080/dxs/dx25.html?a=1,b=2 c", "COM12", 4, 0, 2, 69};
const std::string kChangedFile = "[Settings]\nBits=0\nDxccFilter=69\nParity=2\nPort=COM12\nSpeed=4\n"
                                 "URL=\"http://127.0.0.1:8080/dxs/dx25.html?a=1,b=2 c\"\n";

RelaySettings Loaded()
{
    RelaySettings settings = kChanged;
    LoadSettings(settings);
    return settings;
}

struct StoreCase
{
    const char* name;
    std::string before; ///< the file's text; none when empty
    RelaySettings loaded;
    std::string after = {}; ///< the file once the loaded settings are saved; unchecked when empty
};

// Without an application object the store is named after the executable.
class SettingsStore : public ::testing::TestWithParam<StoreCase>
{
protected:
    // Qt reads XDG_CONFIG_HOME only once per process; this points the user scope anew.
    static void SetHome(const fs::path& path)
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(path.string()));
    }

    void SetUp() override { SetHome(m_config.path()); }

    std::string File() const
    {
        std::ifstream in(m_file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    testing_support::TempDir m_config;
    const std::string m_name = "tolmar/" + std::string(program_invocation_short_name) + ".conf";
    const fs::path m_file = m_config.path() / m_name;
};

TEST_F(SettingsStore, UnwritableConfigDirectoryIsSilent)
{
    // A folder below a plain file can be created by nobody, root included.
    SetHome(m_config.write("blocker", "not a folder") / "config");
    ::testing::internal::CaptureStderr();
    SaveSettings(kChanged);
    EXPECT_EQ(Loaded(), RelaySettings {});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(SettingsStore, ReadOnlySettingsFileIsReadAndKept)
{
    const std::string original = "[Settings]\nPort=COM3\nSpeed=2\n";
    m_config.write(m_name, original);
    // Root ignores modes, so the store runs as "nobody" in a child process then.
    fs::permissions(m_config.path(), fs::perms(0755));
    fs::permissions(m_file.parent_path(), fs::perms(0555));
    fs::permissions(m_file, fs::perms(0444));
    EXPECT_EXIT(
        {
            if (geteuid() == 0 && setuid(65534) != 0) {
                std::_Exit(3);
            }
            const bool read = Loaded() == (RelaySettings {kDefaultSpotUrl, "COM3", 2});
            SaveSettings(kChanged);
            std::_Exit(read ? 0 : 2);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(File(), original);
}

TEST_P(SettingsStore, LoadsAndSaves)
{
    if (!GetParam().before.empty()) {
        m_config.write(m_name, GetParam().before);
    }
    EXPECT_EQ(Loaded(), GetParam().loaded);
    if (!GetParam().after.empty()) {
        SaveSettings(Loaded());
        EXPECT_EQ(File(), GetParam().after);
    }
}

const StoreCase kStoreCases[] = {
    {"FirstRunDefaults", "", {"http://www.dxsummit.fi/dxs/dx25.html?", "None", 3, 1, 1, 0}},
    {"RoundTrip", kChangedFile, kChanged, kChangedFile},
    {"UnknownKeysAndGroupsLeftAlone",
     "[Other]\nWindow=1\n\n[Settings]\nSpeed=1\nLastSpot=DX de X\n",
     {kDefaultSpotUrl, "None", 1},
     "[Other]\nWindow=1\n\n[Settings]\nBits=1\nDxccFilter=0\nLastSpot=DX de X\nParity=1\nPort=None\n"
     "Speed=1\nURL=http://www.dxsummit.fi/dxs/dx25.html?\n"},
    {"CorruptLetters", "[Settings]\nSpeed=fast", {}},
    {"CorruptEmpty", "[Settings]\nBits=", {}},
    {"CorruptFraction", "[Settings]\nParity=1.5", {}},
    {"CorruptHexadecimal", "[Settings]\nDxccFilter=0x10", {}},
    {"CorruptAbove32Bits", "[Settings]\nDxccFilter=4294967296", {}},
    {"CorruptBelow32Bits", "[Settings]\nSpeed=-2147483649", {}},
    {"CorruptList", "[Settings]\nSpeed=1,2", {}},
    {"CorruptUnquotedCommaInUrl", "[Settings]\nURL=http://a/b?x,y", {}},
    {"NegativeKept", "[Settings]\nSpeed=-1", {kDefaultSpotUrl, "None", -1}},
    {"Largest32BitKept", "[Settings]\nDxccFilter=2147483647", {kDefaultSpotUrl, "None", 3, 1, 1, 2147483647}},
    {"EmptyTextKept", "[Settings]\nPort=", {kDefaultSpotUrl, ""}},
};

INSTANTIATE_TEST_SUITE_P(Settings, SettingsStore, ::testing::ValuesIn(kStoreCases),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
