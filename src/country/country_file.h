#pragma once

// Internal to the continent filter, its fuzz target and its benchmark: the country file parsed
// from given bytes, and the two ways of looking a call up in it.

#include "country/country.h"

#include <memory>
#include <string_view>

namespace country_detail {

/// A country file in memory: its lines exactly as the 254-character reads give them, and the
/// alias index built from them.
class CountryFile;

[[nodiscard]] std::shared_ptr<const CountryFile> ParseCountryFile(std::string_view bytes);

enum class Lookup
{
    /// The index, or the literal scan for the calls the index cannot answer exactly.
    Indexed,
    /// The line-by-line scan over the file, the definition of every result.
    Literal,
};

/// FindCountry over `file`.
[[nodiscard]] int FindCountryIn(const CountryFile& file, Lookup lookup, const char* call,
                                char (&record)[kCountryRecordSize]);

/// ContinentOfCall over `file`.
[[nodiscard]] int ContinentOfCallIn(const CountryFile& file, Lookup lookup, const char* text);

} // namespace country_detail
