#include "app/settings_store.h"
#include "support/temp_dir.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include <QSettings>
#include <QString>
#include <gtest/gtest.h>

// Readable failures: the fields instead of the record's bytes.
void PrintTo(const RelaySettings& s, std::ostream* out)
{
    *out << "{URL=" << s.URL << " Port=" << s.Port << " Speed=" << s.Speed << " Bits=" << s.Bits
         << " Parity=" << s.Parity << " DxccFilter=" << s.DxccFilter << "}";
}

namespace {

using testing_support::ScopedEnv;
using testing_support::TempDir;
namespace fs = std::filesystem;

// Qt reads XDG_CONFIG_HOME once per process; each test points the user scope at its own folder
// as well, so the tests also pass when run together in one process.
class ConfigHome
{
public:
    explicit ConfigHome(const fs::path& path)
        : m_xdg("XDG_CONFIG_HOME", path.string())
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(path.string()));
    }

private:
    ScopedEnv m_xdg;
};

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The tests run without an application object, so the store is named after the executable.
class SettingsStore : public ::testing::Test
{
protected:
    fs::path SettingsFile() const
    {
        return m_config.path() / "tolmar" / (std::string(program_invocation_short_name) + ".conf");
    }

    void WriteSettingsFile(const std::string& content) const
    {
        fs::create_directories(SettingsFile().parent_path());
        std::ofstream(SettingsFile(), std::ios::binary) << content;
    }

    static RelaySettings Changed()
    {
        RelaySettings settings;
        settings.URL = "http://127.0.0.1:8080/dxs/dx25.html?a=1,b=2 c";
        settings.Port = "COM12";
        settings.Speed = 4;
        settings.Bits = 0;
        settings.Parity = 2;
        settings.DxccFilter = 63;
        return settings;
    }

    TempDir m_config;
    ConfigHome m_home {m_config.path()};
};

TEST_F(SettingsStore, FirstRunGivesTheDefaults)
{
    RelaySettings loaded = Changed();
    LoadSettings(loaded);
    EXPECT_EQ(loaded, RelaySettings {});
    EXPECT_EQ(loaded.URL, "http://www.dxsummit.fi/dxs/dx25.html?");
    EXPECT_EQ(loaded.Port, "None");
    EXPECT_EQ(loaded.Parity, 1);
}

TEST_F(SettingsStore, SavedValuesComeBackInTheirOwnFile)
{
    SaveSettings(Changed());
    const std::string text = ReadFile(SettingsFile());
    EXPECT_NE(text.find("[Settings]"), std::string::npos) << text;
    EXPECT_NE(text.find("Port=COM12"), std::string::npos) << text;
    EXPECT_NE(text.find("DxccFilter=63"), std::string::npos) << text;

    RelaySettings loaded;
    LoadSettings(loaded);
    EXPECT_EQ(loaded, Changed());
}

TEST_F(SettingsStore, BitsAboveTheContinentsSurviveLoadAndSave)
{
    WriteSettingsFile("[Settings]\nDxccFilter=69\n");
    RelaySettings loaded;
    LoadSettings(loaded);
    EXPECT_EQ(loaded.DxccFilter, 64 + 5);
    SaveSettings(loaded);
    RelaySettings again;
    LoadSettings(again);
    EXPECT_EQ(again.DxccFilter, 69);
    EXPECT_NE(ReadFile(SettingsFile()).find("DxccFilter=69"), std::string::npos);
}

TEST_F(SettingsStore, UnknownKeysAndGroupsAreLeftAlone)
{
    WriteSettingsFile("[Other]\nWindow=1\n\n[Settings]\nSpeed=1\nLastSpot=DX de X\n");
    RelaySettings loaded;
    LoadSettings(loaded);
    EXPECT_EQ(loaded.Speed, 1);
    SaveSettings(Changed());
    const std::string text = ReadFile(SettingsFile());
    EXPECT_NE(text.find("[Other]\nWindow=1"), std::string::npos) << text;
    EXPECT_NE(text.find("LastSpot=DX de X"), std::string::npos) << text;
}

TEST_F(SettingsStore, UnwritableConfigDirectoryIsSilent)
{
    // A folder below a plain file can be created by nobody, root included.
    const fs::path blocker = m_config.write("blocker", "not a folder");
    const ConfigHome home(blocker / "config");
    ::testing::internal::CaptureStderr();
    SaveSettings(Changed());
    RelaySettings loaded;
    LoadSettings(loaded);
    const std::string messages = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(loaded, RelaySettings {});
    EXPECT_EQ(messages, "");
}

TEST_F(SettingsStore, ReadOnlySettingsFileIsReadAndKept)
{
    const std::string original = "[Settings]\nPort=COM3\nSpeed=2\n";
    WriteSettingsFile(original);
    // Readable and unwritable for the user that runs the store; root ignores modes, so the
    // store runs as "nobody" in a child process then.
    fs::permissions(m_config.path(), fs::perms(0755));
    fs::permissions(SettingsFile().parent_path(), fs::perms(0555));
    fs::permissions(SettingsFile(), fs::perms(0444));

    EXPECT_EXIT(
        {
            if (geteuid() == 0 && setuid(65534) != 0) {
                std::_Exit(3);
            }
            RelaySettings loaded;
            LoadSettings(loaded);
            if (loaded.Port != "COM3" || loaded.Speed != 2 || loaded.Bits != 1) {
                std::_Exit(2);
            }
            SaveSettings(Changed());
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadFile(SettingsFile()), original);
}

struct CorruptValue
{
    const char* name;
    const char* line;
    RelaySettings expected;
};

RelaySettings With(void (*change)(RelaySettings&))
{
    RelaySettings settings;
    change(settings);
    return settings;
}

class CorruptValues : public ::testing::TestWithParam<CorruptValue>
{
protected:
    TempDir m_config;
    ConfigHome m_home {m_config.path()};
};

TEST_P(CorruptValues, ReadAsTheDefault)
{
    const fs::path file = m_config.path() / "tolmar" / (std::string(program_invocation_short_name) + ".conf");
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << "[Settings]\n" << GetParam().line << "\n";
    RelaySettings loaded;
    LoadSettings(loaded);
    EXPECT_EQ(loaded, GetParam().expected);
}

const CorruptValue kCorruptValues[] = {
    {"Letters", "Speed=fast", {}},
    {"Empty", "Bits=", {}},
    {"Fraction", "Parity=1.5", {}},
    {"Hexadecimal", "DxccFilter=0x10", {}},
    {"Above32Bits", "DxccFilter=4294967296", {}},
    {"Below32Bits", "Speed=-2147483649", {}},
    {"List", "Speed=1,2", {}},
    {"UnquotedCommaInUrl", "URL=http://a/b?x,y", {}},
    {"NegativeKept", "Speed=-1", With([](RelaySettings& s) { s.Speed = -1; })},
    {"Largest32Bit", "DxccFilter=2147483647", With([](RelaySettings& s) { s.DxccFilter = 2147483647; })},
    {"EmptyTextKept", "Port=", With([](RelaySettings& s) { s.Port = ""; })},
};

INSTANTIATE_TEST_SUITE_P(Settings, CorruptValues, ::testing::ValuesIn(kCorruptValues),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
