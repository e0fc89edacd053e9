#include "country/country_file.h"

#include <algorithm>
#include <bit>
#include <bitset>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace country_detail {

namespace {

/// Column (from 0) and width of the continent field inside a CountryRecord.
constexpr int kContinentColumn = 36;
constexpr int kContinentWidth = 5;
/// Characters taken by one read of the country file, line feed included.
constexpr std::size_t kMaxLineLength = 254;
/// A line buffer: one read plus the end of the text.
constexpr int kLineBufferSize = kCountryRecordSize;
/// The longest call the index answers: a resolution's working text holds 39 characters.
constexpr std::size_t kMaxIndexedCall = 39;
/// Offsets inside the index are 32 bits wide; a larger file is answered by the scan alone.
constexpr std::size_t kMaxIndexedFile = std::size_t {1} << 30;
/// The characters that end an alias in the alias text.
constexpr const char* kAliasEnds = ",;([<{";

} // namespace

class CountryFile
{
public:
    /// Every line as the reads give it, each followed by '\0'; a NUL inside a line ends it for
    /// every reader, as it did for the text read from the file.
    std::string lines;
    std::vector<std::size_t> lineStarts;

    /// The alias text ("," and the first word) of every alias line, each followed by '\0'.
    std::string aliasTexts;
    struct Alias
    {
        std::uint32_t text; ///< offset of its first character in aliasTexts
        std::uint32_t header; ///< offset of its country's header line in lines
        std::uint32_t length;
    };
    /// The first occurrence in the file of every distinct alias.
    std::vector<Alias> aliases;
    /// Open addressing over aliases: index + 1, 0 for an empty slot; a power of two in size.
    std::vector<std::uint32_t> slots;
    /// The lengths some alias has, so that a lookup tries only those.
    std::bitset<kLineBufferSize> lengths;
    bool indexed = false;
};

namespace {

/// Splits `bytes` into the lines that reads of at most 254 characters give: a line ends after
/// its line feed or after 254 characters, and a CR before the LF is not part of it, also when
/// the read stopped between the two.
void ReadLines(std::string_view bytes, CountryFile& file)
{
    std::size_t position = 0;
    while (position < bytes.size()) {
        std::string_view piece = bytes.substr(position, kMaxLineLength);
        piece = piece.substr(0, std::min(piece.find('\n'), piece.size() - 1) + 1);
        position += piece.size();
        const std::string_view line = piece.substr(0, piece.find('\0'));

        file.lineStarts.push_back(file.lines.size());
        if (line.ends_with("\r\n")) {
            file.lines.append(line.substr(0, line.size() - 2)).push_back('\n');
        } else if (line.size() == kMaxLineLength && line.back() == '\r' && position < bytes.size()
                   && bytes[position] == '\n') {
            // The read stopped between CR and LF: they still form one line end.
            ++position;
            file.lines.append(line.substr(0, line.size() - 1)).push_back('\n');
        } else {
            file.lines.append(line);
        }
        file.lines.push_back('\0');
    }
}

bool IsWordEnd(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0';
}

bool IsAliasEnd(char c)
{
    return c == ',' || c == ';' || c == '(' || c == '[' || c == '<' || c == '{';
}

/// The first word of an alias line: leading blanks and tabs skipped, ended by a blank, tab, CR,
/// LF or the end of the line. A line holds at most 254 characters, and so does its word.
std::string_view FirstWord(const char* line)
{
    while (*line == ' ' || *line == '\t') {
        ++line;
    }
    std::size_t length = 0;
    while (!IsWordEnd(line[length])) {
        ++length;
    }
    return {line, length};
}

/// The alias text T: "," followed by the first word of the alias line.
void BuildAliasText(const char* line, char (&text)[kLineBufferSize])
{
    const std::string_view word = FirstWord(line);
    text[0] = ',';
    std::memcpy(text + 1, word.data(), word.size());
    text[word.size() + 1] = '\0';
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
void CopyHeader(const char* header, char (&record)[kCountryRecordSize])
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

/// The lookup as the country file defines it: line by line from the first, the matched count
/// climbing one character at a time along the aliases that are prefixes of the call.
int ScanLines(const CountryFile& file, const char* call, char (&record)[kCountryRecordSize])
{
    std::size_t next = 0;
    const auto readLine = [&file, &next]() -> const char* {
        return next < file.lineStarts.size() ? file.lines.data() + file.lineStarts[next++] : nullptr;
    };

    // The matched count only grows during the whole lookup; it is not reset between countries.
    int m = 0;
    char aliasText[kLineBufferSize];
    char pattern[kLineBufferSize];

    for (;;) {
        // Header line of the next country.
        const char* header = readLine();
        if (header == nullptr) {
            return m;
        }

        bool lastAliasLine = false;
        while (!lastAliasLine) {
            // Alias line; the file may end inside a country, which ends the lookup as at the end.
            const char* line = readLine();
            if (line == nullptr) {
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
            lastAliasLine = aliasText[std::strlen(aliasText) - 1] == ';';
        }
    }
}

constexpr std::uint64_t kHashStart = 0xcbf29ce484222325U;

/// One byte more of an FNV-1a hash, so that the hashes of all prefixes of a call come in one pass.
std::uint64_t HashStep(std::uint64_t hash, char c)
{
    return (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3U;
}

/// The slot of `alias` in the table: the one holding it, or the empty one where it belongs.
std::size_t SlotFor(const CountryFile& file, std::string_view alias, std::uint64_t hash)
{
    const std::size_t mask = file.slots.size() - 1;
    for (std::size_t slot = static_cast<std::size_t>(hash ^ (hash >> 29)) & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t entry = file.slots[slot];
        if (entry == 0) {
            return slot;
        }
        const CountryFile::Alias& known = file.aliases[entry - 1];
        if (alias == std::string_view(file.aliasTexts).substr(known.text, known.length)) {
            return slot;
        }
    }
}

std::uint64_t HashOf(std::string_view text)
{
    std::uint64_t hash = kHashStart;
    for (const char c : text) {
        hash = HashStep(hash, c);
    }
    return hash;
}

/// Indexes the aliases of every alias line, the lines classed as the scan classes them. Every ","
/// of an alias text starts an alias for the scan, also one inside an override group, so every
/// one does here; an alias met again keeps its first occurrence, as the scan's record does.
void BuildIndex(CountryFile& file)
{
    std::vector<CountryFile::Alias> found;
    bool headerNext = true;
    std::size_t header = 0;
    for (const std::size_t start : file.lineStarts) {
        if (headerNext) {
            header = start;
            headerNext = false;
            continue;
        }
        const std::string_view word = FirstWord(file.lines.data() + start);
        headerNext = !word.empty() && word.back() == ';';
        const std::size_t text = file.aliasTexts.size();
        file.aliasTexts.append(",").append(word).push_back('\0');
        for (std::size_t comma = text; comma <= text + word.size(); ++comma) {
            if (file.aliasTexts[comma] != ',') {
                continue;
            }
            std::size_t length = 0;
            while (!IsAliasEnd(file.aliasTexts[comma + 1 + length])
                   && file.aliasTexts[comma + 1 + length] != '\0') {
                ++length;
            }
            if (length > 0) {
                found.push_back({static_cast<std::uint32_t>(comma + 1), static_cast<std::uint32_t>(header),
                                 static_cast<std::uint32_t>(length)});
            }
        }
    }

    file.slots.assign(std::bit_ceil(2 * found.size() + 2), 0);
    for (const CountryFile::Alias& alias : found) {
        const std::string_view text = std::string_view(file.aliasTexts).substr(alias.text, alias.length);
        std::uint32_t& slot = file.slots[SlotFor(file, text, HashOf(text))];
        if (slot == 0) {
            file.aliases.push_back(alias);
            slot = static_cast<std::uint32_t>(file.aliases.size());
            file.lengths.set(alias.length);
        }
    }
    file.indexed = true;
}

/// The longest alias that is a prefix of the call decides; its first occurrence in the file gives
/// the record, and an alias equal to the whole call counts 99.
int FindInIndex(const CountryFile& file, const char* call, std::size_t length,
                char (&record)[kCountryRecordSize])
{
    std::uint64_t hashes[kMaxIndexedCall + 1];
    hashes[0] = kHashStart;
    for (std::size_t i = 0; i < length; ++i) {
        hashes[i + 1] = HashStep(hashes[i], call[i]);
    }
    for (std::size_t prefix = length; prefix > 0; --prefix) {
        if (!file.lengths[prefix]) {
            continue;
        }
        if (const std::uint32_t entry = file.slots[SlotFor(file, {call, prefix}, hashes[prefix])];
            entry != 0) {
            const CountryFile::Alias& alias = file.aliases[entry - 1];
            CopyHeader(file.lines.data() + alias.header, record);
            ApplyAliasOverrides(file.aliasTexts.data() + alias.text + alias.length, record);
            return prefix == length ? 99 : static_cast<int>(prefix);
        }
    }
    return 0;
}

} // namespace

std::shared_ptr<const CountryFile> ParseCountryFile(std::string_view bytes)
{
    auto file = std::make_shared<CountryFile>();
    ReadLines(bytes, *file);
    if (bytes.size() <= kMaxIndexedFile) {
        BuildIndex(*file);
    }
    // Kept for as long as the file does not change: no spare capacity.
    file->lines.shrink_to_fit();
    file->lineStarts.shrink_to_fit();
    file->aliasTexts.shrink_to_fit();
    file->aliases.shrink_to_fit();
    return file;
}

int FindCountryIn(const CountryFile& file, Lookup lookup, const char* call,
                  char (&record)[kCountryRecordSize])
{
    // An empty call would count as matched in full without any alias having been met.
    if (call == nullptr || call[0] == '\0') {
        return 0;
    }
    // In a call holding a character that ends an alias, a pattern can run past the end of the
    // alias it starts with, and the scan climbs further than that alias is long: only the scan
    // knows how far.
    const std::size_t length = strnlen(call, kMaxIndexedCall + 1);
    if (lookup == Lookup::Literal || !file.indexed || length > kMaxIndexedCall
        || std::strpbrk(call, kAliasEnds) != nullptr) {
        return ScanLines(file, call, record);
    }
    return FindInIndex(file, call, length, record);
}

} // namespace country_detail
