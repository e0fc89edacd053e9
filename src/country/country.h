#pragma once

#include <array>
#include <cstdint>
#include <string>

// Continent filter: resolves a spotter's call sign to its continent through the country file
// "cty.dat" in the current directory (or, when there is none, a name equal to it ignoring case:
// CTY.DAT, Cty.Dat...). Nothing here throws. The file is parsed once per version and kept in
// memory; every lookup checks with one stat whether it changed, so a new file takes effect at
// the next lookup. Single-threaded: call from one thread only.

/// Size of a CountryRecord buffer: one country header line as read from the file.
inline constexpr int kCountryRecordSize = 256;

/// One bit per continent; a set bit in DxccFilter keeps that continent's spotters off the serial line.
enum ContinentMask : int
{
    kContinentEU = 1,
    kContinentNA = 2,
    kContinentSA = 4,
    kContinentAF = 8,
    kContinentAS = 16,
    kContinentOC = 32,
};

struct Continent
{
    const char* code;
    ContinentMask bit;
};

/// The continent codes in the order they are compared.
inline constexpr std::array<Continent, 6> kContinents = {{
    {"EU", kContinentEU},
    {"NA", kContinentNA},
    {"SA", kContinentSA},
    {"AF", kContinentAF},
    {"AS", kContinentAS},
    {"OC", kContinentOC},
}};

/// One check state per continent, in the order of kContinents: 0 clear, 1 checked.
using ContinentChecks = std::array<std::int32_t, kContinents.size()>;

/// The check states of a mask: 1 where the continent's bit is set. Bits beyond the six are not shown.
[[nodiscard]] ContinentChecks ChecksOfMask(std::int32_t mask);
/// The mask of check states: a continent's bit for every state that is not 0.
[[nodiscard]] std::int32_t MaskOfChecks(const ContinentChecks& checks);

/// Finds the country whose alias list holds the longest prefix of `call` (upper case, at most
/// 39 characters). Returns 0 (no match or no file; `record` untouched), the matched length, or
/// 99 for an alias equal to the whole call. On a nonzero result `record` holds the country's
/// header line with the deciding alias's continent override applied.
[[nodiscard]] int FindCountry(const char* call, char (&record)[kCountryRecordSize]);

/// The ContinentMask bit of a call-sign text (a spotter with its ":" included), 0 when unknown.
[[nodiscard]] int ContinentOfCall(const char* text);

/// The ContinentMask bit of the record's continent code, 0 when it is none of the six.
[[nodiscard]] int ContinentBitOfRecord(const char (&record)[kCountryRecordSize]);

/// Whether the lookups find a country file they can read; without it every spot passes the filter.
/// A name that is no regular file (a directory, a FIFO) counts as no file.
[[nodiscard]] bool CountryFileReadable();

/// The folder searched for the country file: the absolute current directory (empty when it has
/// none, e.g. after it was removed).
[[nodiscard]] std::string CountryFileFolder();
