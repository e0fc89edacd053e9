#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

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
        namespace fs = std::filesystem;
        std::error_code ec;
        // A test may have made parts read-only; give them back so the removal cannot fail.
        for (auto it = fs::recursive_directory_iterator(m_path, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all,
                            fs::perm_options::add | fs::perm_options::nofollow, ec);
        }
        fs::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return m_path; }
    /// Writes `content` to `name` inside the directory (binary, exactly as given); returns its path.
    std::filesystem::path write(const std::string& name, const std::string& content) const
    {
        const auto file = m_path / name;
        std::filesystem::create_directories(file.parent_path());
        if (!(std::ofstream(file, std::ios::binary) << content)) {
            throw std::runtime_error("cannot write " + file.string());
        }
        return file;
    }

private:
    std::filesystem::path m_path;
};

/// Makes `dir` the current directory for the lifetime of the object.
class ScopedCurrentDir
{
public:
    explicit ScopedCurrentDir(const std::filesystem::path& dir) { std::filesystem::current_path(dir); }
    ~ScopedCurrentDir()
    {
        std::error_code ec;
        std::filesystem::current_path(m_previous, ec);
    }
    ScopedCurrentDir(const ScopedCurrentDir&) = delete;
    ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

private:
    std::filesystem::path m_previous = std::filesystem::current_path();
};

/// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv
{
public:
    ScopedEnv(std::string name, const std::string& value)
        : m_name(std::move(name))
    {
        if (const char* old = std::getenv(m_name.c_str())) {
            m_previous = old;
        }
        setenv(m_name.c_str(), value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (m_previous) {
            setenv(m_name.c_str(), m_previous->c_str(), 1);
        } else {
            unsetenv(m_name.c_str());
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

/// A file of the tests' own data folder (QUARNEL_TEST_DATA, set by CTest), e.g. "country/example_cty.dat".
[[nodiscard]] inline std::filesystem::path testDataPath(const std::string& relative)
{
    const char* root = std::getenv("QUARNEL_TEST_DATA");
    if (root == nullptr) {
        throw std::runtime_error("QUARNEL_TEST_DATA is not set (run the tests through ctest)");
    }
    return std::filesystem::path(root) / relative;
}

/// The real country file of Debian's hamradio-files package.
inline const std::filesystem::path kRealCountryFile = "/usr/share/hamradio-files/cty.dat";

} // namespace testing_support
