#include "country/country.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr const char* kCountryFileName = "cty.dat";
/// Column (from 0) and width of the continent field inside a CountryRecord.
constexpr int kContinentColumn = 36;
constexpr int kContinentWidth = 5;
/// Characters taken by one read of the country file, line feed included.
constexpr int kMaxLineLength = 254;
/// A line buffer: one read plus the end of the text.
constexpr int kLineBufferSize = kCountryRecordSize;
/// The working copy of a call-sign text: 39 characters and the end of the text.
constexpr int kWorkingTextSize = 40;
/// Parts of a call sign cut at "/".
constexpr int kMaxParts = 10;

struct FileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

/// Reads one piece of at most 254 characters. A CR before the LF is not part of the line, as a
/// text-mode read on the system the file format comes from would give it.
bool ReadLine(std::FILE* file, char (&line)[kLineBufferSize])
{
    if (std::fgets(line, kMaxLineLength + 1, file) == nullptr) {
        return false;
    }
    const std::size_t length = std::strlen(line);
    if (length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n') {
        line[length - 2] = '\n';
        line[length - 1] = '\0';
    } else if (length == static_cast<std::size_t>(kMaxLineLength) && line[length - 1] == '\r') {
        // The read stopped between CR and LF: they still form one line end.
        const int next = std::getc(file);
        if (next == '\n') {
            line[length - 1] = '\n';
        } else if (next != EOF) {
            std::ungetc(next, file);
        }
    }
    return true;
}

bool IsWordEnd(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0';
}

/// The alias text T: "," followed by the first word of the alias line.
void BuildAliasText(const char* line, char (&text)[kLineBufferSize])
{
    while (*line == ' ' || *line == '\t') {
        ++line;
    }
    int length = 0;
    text[length++] = ',';
    // The line holds at most 254 characters, so the word always fits behind the ",".
    while (!IsWordEnd(*line) && length < kLineBufferSize - 1) {
        text[length++] = *line++;
    }
    text[length] = '\0';
}

bool IsAliasEnd(char c)
{
    return c == ',' || c == ';' || c == '(' || c == '[' || c == '<' || c == '{';
}

/// Compares the alias at `alias` with the call from its first character. Returns the character
/// that ended the alias when every character before it equals the call's, else nullptr and the
/// first differing character in `difference`.
const char* VerifyAlias(const char* alias, const char* call, const char*& difference)
{
    for (int i = 0;; ++i) {
        // An alias with nothing after it in the word ends with the word.
        if (IsAliasEnd(alias[i]) || alias[i] == '\0') {
            return alias + i;
        }
        if (call[i] == '\0' || call[i] != alias[i]) {
            difference = alias + i;
            return nullptr;
        }
    }
}

/// The record takes the header line as read; the rest of the buffer is cleared so that no stale
/// byte of an earlier content can ever be read as part of the field.
void CopyHeader(const char (&header)[kLineBufferSize], char (&record)[kCountryRecordSize])
{
    const std::size_t length = strnlen(header, kMaxLineLength);
    std::memcpy(record, header, length);
    std::memset(record + length, 0, sizeof(record) - length);
}

/// Moves `position` to just after the next `closing`; nullptr when the text holds none.
const char* SkipPast(const char* position, char closing)
{
    const char* found = std::strchr(position, closing);
    return found == nullptr ? nullptr : found + 1;
}

bool IsDesignator(const char* part)
{
    return std::strcmp(part, "P") == 0 || std::strcmp(part, "M") == 0 || std::strcmp(part, "MM") == 0
        || part[0] == 'Q';
}

void WriteContinentField(char (&record)[kCountryRecordSize], const char* code, int column, int width);

/// Applies the override groups that follow an alias, starting at `position` inside the
/// NUL-terminated alias text. Only "{XX}" changes the record's continent field.
void ApplyAliasOverrides(const char* position, char (&record)[kCountryRecordSize])
{
    // An override whose closing character is missing ends the overrides with the alias text.
    while (position != nullptr) {
        switch (*position) {
        case '(':
            position = SkipPast(position, ')');
            break;
        case '[':
            position = SkipPast(position, ']');
            break;
        case '<':
            position = SkipPast(position, '>');
            break;
        case '{': {
            char code[3] = {};
            int length = 0;
            while (length < 2 && position[1 + length] != '\0') {
                code[length] = position[1 + length];
                ++length;
            }
            WriteContinentField(record, code, kContinentColumn, kContinentWidth);
            position = length < 2 ? nullptr : SkipPast(position + 2, '}');
            break;
        }
        default:
            return;
        }
    }
}

/// Writes `code`, ":" and blank fill into the field at `column` of `width` characters.
void WriteContinentField(char (&record)[kCountryRecordSize], const char* code, int column, int width)
{
    if (code == nullptr || column < 0 || width < 0 || column >= kCountryRecordSize) {
        return;
    }
    const int codeLength = static_cast<int>(std::strlen(code));
    const int extent = codeLength + 1 > width ? codeLength + 1 : width;
    // A field beyond the end of the record's text does not exist; writing it would move the end.
    if (extent > kCountryRecordSize - column
        || static_cast<int>(strnlen(record, static_cast<std::size_t>(column + extent))) < column + extent) {
        return;
    }
    std::memcpy(record + column, code, static_cast<std::size_t>(codeLength));
    record[column + codeLength] = ':';
    for (int i = codeLength + 1; i < width; ++i) {
        record[column + i] = ' ';
    }
}

/// Copies the continent code out of the field at `column` of `width` characters into `out`.
void ReadContinentField(const char (&record)[kCountryRecordSize], char (&out)[kCountryRecordSize], int column,
                        int width)
{
    out[0] = '\0';
    // The field must lie wholly inside the record's text; a shorter line holds no code.
    if (column < 0 || width < 0 || width > kCountryRecordSize - 1 - column
        || static_cast<int>(strnlen(record, static_cast<std::size_t>(column + width))) < column + width) {
        return;
    }
    int used = 0;
    while (used < width && record[column + used] == ' ') {
        ++used;
    }
    int length = 0;
    while (used < width && record[column + used] != ':') {
        out[length++] = record[column + used];
        ++used;
    }
    out[length] = '\0';
}

} // namespace

int FindCountry(const char* call, char (&record)[kCountryRecordSize])
{
    // An empty call would count as matched in full without any alias having been met.
    if (call == nullptr || call[0] == '\0') {
        return 0;
    }

    // The file is opened anew for every lookup, so a changed file takes effect at once.
    const FileHandle file(std::fopen(kCountryFileName, "r"));
    if (!file) {
        return 0;
    }

    // The matched count only grows during the whole lookup; it is not reset between countries.
    int m = 0;
    char header[kLineBufferSize];
    char line[kLineBufferSize];
    char aliasText[kLineBufferSize];
    char pattern[kLineBufferSize];

    for (;;) {
        // Header line of the next country.
        if (!ReadLine(file.get(), header)) {
            return m;
        }

        bool lastAliasLine = false;
        while (!lastAliasLine) {
            // Alias line; the file may end inside a country, which ends the lookup as at the end.
            if (!ReadLine(file.get(), line)) {
                return m;
            }
            BuildAliasText(line, aliasText);

            // Let m climb along the aliases of this line that are prefixes of the call.
            const char* s = aliasText;
            while (call[m] != '\0') {
                // The pattern "," + the first m + 1 characters of the call; one longer than the
                // alias text cannot occur in it.
                if (m + 2 > kLineBufferSize - 1) {
                    break;
                }
                pattern[0] = ',';
                std::memcpy(pattern + 1, call, static_cast<std::size_t>(m) + 1);
                pattern[m + 2] = '\0';

                const char* found = std::strstr(s, pattern);
                if (found == nullptr) {
                    break;
                }

                const char* difference = nullptr;
                const char* aliasEnd = VerifyAlias(found + 1, call, difference);
                if (aliasEnd != nullptr) {
                    // Verified: the record takes a fresh copy of the header; s stays where it is.
                    ++m;
                    CopyHeader(header, record);
                    ApplyAliasOverrides(aliasEnd, record);
                } else {
                    // Not verified: on to the start of the next alias.
                    s = std::strchr(difference, ',');
                    if (s == nullptr) {
                        break;
                    }
                }
            }

            // The whole call matched ends the lookup; a word ending in ";" closes the country.
            if (call[m] == '\0') {
                return 99;
            }
            const std::size_t wordLength = std::strlen(aliasText);
            lastAliasLine = aliasText[wordLength - 1] == ';';
        }
    }
}

int ContinentOfCall(const char* text)
{
    if (text == nullptr || text[0] == '\0') {
        return 0;
    }

    // Working copy of at most 39 characters, a to z in upper case.
    char working[kWorkingTextSize] = {};
    for (int i = 0; i < kWorkingTextSize - 1 && text[i] != '\0'; ++i) {
        const char c = text[i];
        working[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }

    char recordA[kCountryRecordSize] = {};
    char recordB[kCountryRecordSize] = {};

    // A whole-call match on the whole text decides at once.
    if (FindCountry(working, recordA) == 99) {
        return ContinentBitOfRecord(recordA);
    }

    // Cut into parts at "/"; text after a tenth "/" is dropped.
    char* parts[kMaxParts] = {working};
    int partCount = 1;
    for (;;) {
        char* slash = std::strchr(parts[partCount - 1], '/');
        if (slash == nullptr) {
            break;
        }
        *slash = '\0';
        if (partCount == kMaxParts) {
            break;
        }
        parts[partCount++] = slash + 1;
    }

    // The first of the shortest parts that is no designator.
    std::size_t bestLength = 100;
    const char* chosen = parts[0];
    for (int i = 0; i < partCount; ++i) {
        const std::size_t length = std::strlen(parts[i]);
        if (length < bestLength && !IsDesignator(parts[i])) {
            chosen = parts[i];
            bestLength = length;
        }
    }

    // Two parts of equal length: the one with the better match wins, the second on a tie.
    if (partCount == 2 && std::strlen(parts[0]) == std::strlen(parts[1])) {
        const int d = FindCountry(parts[0], recordA);
        const int e = FindCountry(parts[1], recordB);
        if (d > e) {
            return ContinentBitOfRecord(recordA);
        }
        if (e == 0) {
            return 0;
        }
        return ContinentBitOfRecord(recordB);
    }

    // Otherwise the chosen part decides.
    if (FindCountry(chosen, recordA) == 0) {
        return 0;
    }
    return ContinentBitOfRecord(recordA);
}

int ContinentBitOfRecord(const char (&record)[kCountryRecordSize])
{
    char code[kCountryRecordSize];
    ReadContinentField(record, code, kContinentColumn, kContinentWidth);
    for (const Continent& continent : kContinents) {
        if (std::strcmp(code, continent.code) == 0) {
            return continent.bit;
        }
    }
    return 0;
}

ContinentChecks ChecksOfMask(std::int32_t mask)
{
    ContinentChecks checks {};
    for (std::size_t i = 0; i < kContinents.size(); ++i) {
        checks[i] = (mask & kContinents[i].bit) != 0 ? 1 : 0;
    }
    return checks;
}

std::int32_t MaskOfChecks(const ContinentChecks& checks)
{
    std::int32_t mask = 0;
    for (std::size_t i = 0; i < kContinents.size(); ++i) {
        if (checks[i] != 0) {
            mask |= kContinents[i].bit;
        }
    }
    return mask;
}

bool CountryFileReadable()
{
    return FileHandle(std::fopen(kCountryFileName, "r")) != nullptr;
}
