#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace testing_support {

/// A fresh directory under the system's temporary folder, removed with everything in it.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return m_path; }
    /// Writes `content` to `name` inside the directory (binary, exactly as given); returns its path.
    std::filesystem::path write(const std::string& name, const std::string& content) const;

private:
    std::filesystem::path m_path;
};

/// Makes `dir` the current directory for the lifetime of the object.
class ScopedCurrentDir
{
public:
    explicit ScopedCurrentDir(const std::filesystem::path& dir);
    ~ScopedCurrentDir();
    ScopedCurrentDir(const ScopedCurrentDir&) = delete;
    ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

private:
    std::filesystem::path m_previous;
};

/// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv
{
public:
    ScopedEnv(std::string name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

/// A file of the tests' own data folder (QUARNEL_TEST_DATA, set by CTest), e.g. "country/example_cty.dat".
[[nodiscard]] std::filesystem::path testDataPath(const std::string& relative);

/// The real country file of Debian's hamradio-files package.
inline const std::filesystem::path kRealCountryFile = "/usr/share/hamradio-files/cty.dat";

} // namespace testing_support
