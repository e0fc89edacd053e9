#pragma once

#include "country/country.h"
#include "support/temp_dir.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace country_test {

inline std::string ReadWholeFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline std::string ExampleFile()
{
    return ReadWholeFile(testing_support::testDataPath("country/example_cty.dat"));
}

/// A temporary directory made the current one, holding the cty.dat a test needs.
class CountryDir
{
public:
    explicit CountryDir(const std::string& content) { Write(content); }
    void Write(const std::string& content) const { m_dir.write("cty.dat", content); }
    void Remove() const { std::filesystem::remove(m_dir.path() / "cty.dat"); }

private:
    testing_support::TempDir m_dir;
    testing_support::ScopedCurrentDir m_current {m_dir.path()};
};

/// A record filled with a mark, so that any write to it shows.
struct MarkedRecord
{
    MarkedRecord()
    {
        std::memset(text, '#', sizeof(text) - 1);
        text[sizeof(text) - 1] = '\0';
    }
    [[nodiscard]] bool Untouched() const { return MarkedRecord().Str() == Str(); }
    [[nodiscard]] std::string Str() const { return std::string(text); }
    char text[kCountryRecordSize];
};

/// A header line of the example's layout: name, zones, continent field "  XX:" at columns 37 to 41.
inline std::string Header(const std::string& name, const std::string& continent)
{
    std::string line = name + ":";
    line.resize(28, ' ');
    return line + "14:  27:  " + continent + ":   52.00:   -10.00:    -1.0:   ZZ:";
}

/// Names a table-driven test after the `name` of its row.
struct RowName
{
    template <class Row> std::string operator()(const testing::TestParamInfo<Row>& row) const
    {
        return row.param.name;
    }
};

} // namespace country_test
