#pragma once

// Continent filter: resolves a spotter's call sign to its continent through the
// country file "cty.dat" in the current directory. Free functions over fixed-size
// character buffers; nothing here throws and no state outlives a call.

/// Size of a CountryRecord buffer: one country header line as read from the file.
inline constexpr int kCountryRecordSize = 256;

/// Column (from 0) and width of the continent field inside a CountryRecord.
inline constexpr int kContinentColumn = 36;
inline constexpr int kContinentWidth = 5;

/// One bit per continent; a set bit in DxccFilter keeps that continent's spotters off the serial line.
enum ContinentMask : int {
    kContinentEU = 1,
    kContinentNA = 2,
    kContinentSA = 4,
    kContinentAF = 8,
    kContinentAS = 16,
    kContinentOC = 32,
    kContinentAll = 63,
};

/// Finds the country whose alias list holds the longest prefix of `call` (upper case, at most
/// 39 characters). Returns 0 (no match or no file; `record` untouched), the matched length, or
/// 99 for an alias equal to the whole call. On a nonzero result `record` holds the country's
/// header line with the deciding alias's continent override applied.
[[nodiscard]] int FindCountry(const char* call, char (&record)[kCountryRecordSize]);

/// Applies the override groups that follow an alias, starting at `position` inside the
/// NUL-terminated alias text. Only "{XX}" changes the record's continent field.
void ApplyAliasOverrides(const char* position, char (&record)[kCountryRecordSize]);

/// Writes `code`, ":" and blank fill into the field at `column` of `width` characters.
void WriteContinentField(char (&record)[kCountryRecordSize], const char* code, int column, int width);

/// Copies the continent code out of the field at `column` of `width` characters into `out`.
void ReadContinentField(const char (&record)[kCountryRecordSize], char (&out)[kCountryRecordSize], int column,
                        int width);

/// The ContinentMask bit of a call-sign text (a spotter with its ":" included), 0 when unknown.
[[nodiscard]] int ContinentOfCall(const char* text);

/// The ContinentMask bit of the record's continent code, 0 when it is none of the six.
[[nodiscard]] int ContinentBitOfRecord(const char (&record)[kCountryRecordSize]);
