#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

namespace testing_support {

/// A fresh directory under the system's temporary folder, removed with everything in it.
class TempDir
{
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "quarnel-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return m_path; }
    /// Writes `content` to `name` inside the directory, exactly as given; returns its path.
    std::filesystem::path write(const std::string& name, const std::string& content) const
    {
        const auto file = m_path / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

private:
    std::filesystem::path m_path;
};

/// Makes `dir` the current directory for the lifetime of the object.
struct ScopedCurrentDir
{
    explicit ScopedCurrentDir(const std::filesystem::path& dir) { std::filesystem::current_path(dir); }
    ~ScopedCurrentDir() { std::filesystem::current_path(previous); }
    const std::filesystem::path previous = std::filesystem::current_path();
};

/// Sets an environment variable for the lifetime of the object, then restores it.
struct ScopedEnv
{
    ScopedEnv(const char* variable, const std::string& value)
        : name(variable)
    {
        if (const char* old = std::getenv(name)) {
            previous = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { previous ? setenv(name, previous->c_str(), 1) : unsetenv(name); }
    const char* name;
    std::optional<std::string> previous;
};

/// A file of the tests' own data folder, e.g. "country/example_cty.dat".
inline std::filesystem::path testDataPath(const std::string& relative)
{
    return std::filesystem::path(QUARNEL_TEST_DATA) / relative;
}

/// The real country file of Debian's hamradio-files package.
inline const std::filesystem::path kRealCountryFile = "/usr/share/hamradio-files/cty.dat";

/// Debian's country file as cty.dat in a temporary directory made the current one, as the program
/// finds it in its working directory.
class RealCountryDir
{
public:
    RealCountryDir() { std::filesystem::copy_file(kRealCountryFile, m_dir.path() / "cty.dat"); }

private:
    TempDir m_dir;
    ScopedCurrentDir m_cwd {m_dir.path()};
};

} // namespace testing_support
