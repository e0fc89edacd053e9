#include "country/country.h"

#include "country/country_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using country_detail::CountryFile;
using country_detail::Lookup;

namespace {

constexpr const char* kCountryFileName = "cty.dat";
/// Column (from 0) and width of the continent field inside a CountryRecord.
constexpr int kContinentColumn = 36;
constexpr int kContinentWidth = 5;
/// The working copy of a call-sign text: 39 characters and the end of the text.
constexpr int kWorkingTextSize = 40;
/// Parts of a call sign cut at "/".
constexpr int kMaxParts = 10;

bool IsDesignator(const char* part)
{
    return std::strcmp(part, "P") == 0 || std::strcmp(part, "M") == 0 || std::strcmp(part, "MM") == 0
        || part[0] == 'Q';
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

/// What tells one version of a file from another: a change of any of these is a new version.
/// Mode and owner count too, so that a file that can no longer be read stops answering.
struct FileVersion
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::time_t seconds = 0;
    long nanoseconds = 0;
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
    bool operator==(const FileVersion&) const = default;
};

FileVersion VersionOf(const struct stat& status)
{
    return {status.st_dev,          status.st_ino,  status.st_size, status.st_mtim.tv_sec,
            status.st_mtim.tv_nsec, status.st_mode, status.st_uid,  status.st_gid};
}

bool IsRegularFile(const char* name, struct stat& status)
{
    return stat(name, &status) == 0 && S_ISREG(status.st_mode);
}

/// The names in the current folder that equal "cty.dat" ignoring case, "cty.dat" itself left out,
/// in byte order. ASCII only: the locale must not decide which file is read.
std::vector<std::string> ListCaseVariants()
{
    std::vector<std::string> names;
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir("."), closedir);
    if (folder == nullptr) {
        return names;
    }
    while (const dirent* entry = readdir(folder.get())) {
        const std::string name = entry->d_name;
        if (name.size() == std::strlen(kCountryFileName) && name != kCountryFileName
            && std::equal(name.begin(), name.end(), kCountryFileName, [](char a, char b) {
                   return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
               })) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct Descriptor
{
    int fd;
    ~Descriptor()
    {
        if (fd >= 0) {
            close(fd);
        }
    }
};

/// The parsed country file, kept from one lookup to the next while the file stays the same.
class CountryFileCache
{
public:
    /// The country file as the lookups see it now; nullptr when there is none that can be read.
    const CountryFile* Current()
    {
        struct stat status
        {
        };
        const char* name = Locate(status);
        if (name == nullptr) {
            m_file.reset();
        } else if (m_file == nullptr || VersionOf(status) != m_version) {
            Load(name);
        }
        return m_file.get();
    }

private:
    /// "cty.dat" when it is a regular file, else the first case variant of it that is one.
    const char* Locate(struct stat& status)
    {
        if (IsRegularFile(kCountryFileName, status)) {
            return kCountryFileName;
        }
        for (const std::string& variant : CaseVariants()) {
            if (IsRegularFile(variant.c_str(), status)) {
                return variant.c_str();
            }
        }
        return nullptr;
    }

    /// Listing a folder costs far more than a stat, so the listing is kept while the folder's
    /// version stays the same.
    const std::vector<std::string>& CaseVariants()
    {
        struct stat folder
        {
        };
        if (stat(".", &folder) != 0) {
            m_folderListed = false;
            m_variants.clear();
            return m_variants;
        }
        if (m_folderListed && VersionOf(folder) == m_folderVersion) {
            return m_variants;
        }
        m_variants = ListCaseVariants();
        m_folderVersion = VersionOf(folder);
        // Time stamps are coarse (2 s on some file systems): a folder changed that recently can
        // change again under the same stamp, so its listing is only kept once it is older.
        m_folderListed = folder.st_mtim.tv_sec + 2 < std::time(nullptr);
        return m_variants;
    }

    void Load(const char* name)
    {
        m_file.reset();
        // Not blocking: a FIFO put in the file's place since the stat must not hang the lookup.
        const Descriptor file {open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
        struct stat status
        {
        };
        if (file.fd < 0 || fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode)) {
            return;
        }
        std::string bytes;
        bytes.reserve(static_cast<std::size_t>(status.st_size));
        char buffer[65536];
        for (;;) {
            const ssize_t count = read(file.fd, buffer, sizeof buffer);
            if (count > 0) {
                bytes.append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0) {
                break;
            } else if (errno != EINTR) {
                return;
            }
        }
        // The version read is the one the descriptor shows, whatever the name shows by now.
        m_file = country_detail::ParseCountryFile(bytes);
        m_version = VersionOf(status);
    }

    std::shared_ptr<const CountryFile> m_file;
    FileVersion m_version;
    std::vector<std::string> m_variants;
    FileVersion m_folderVersion;
    bool m_folderListed = false;
};

const CountryFile* CurrentCountryFile()
{
    static CountryFileCache cache;
    return cache.Current();
}

} // namespace

int FindCountry(const char* call, char (&record)[kCountryRecordSize])
{
    if (call == nullptr || call[0] == '\0') {
        return 0;
    }
    const CountryFile* file = CurrentCountryFile();
    return file == nullptr ? 0 : country_detail::FindCountryIn(*file, Lookup::Indexed, call, record);
}

int ContinentOfCall(const char* text)
{
    // An empty text needs no country file.
    if (text == nullptr || text[0] == '\0') {
        return 0;
    }
    // One file version for all the lookups of one resolution.
    const CountryFile* file = CurrentCountryFile();
    return file == nullptr ? 0 : country_detail::ContinentOfCallIn(*file, Lookup::Indexed, text);
}

int country_detail::ContinentOfCallIn(const CountryFile& file, Lookup lookup, const char* text)
{
    if (text == nullptr || text[0] == '\0') {
        return 0;
    }
    const auto lookUp = [&file, lookup](const char* call, char(&record)[kCountryRecordSize]) {
        return FindCountryIn(file, lookup, call, record);
    };

    // Working copy of at most 39 characters, a to z in upper case.
    char working[kWorkingTextSize] = {};
    for (int i = 0; i < kWorkingTextSize - 1 && text[i] != '\0'; ++i) {
        const char c = text[i];
        working[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }

    char recordA[kCountryRecordSize] = {};
    char recordB[kCountryRecordSize] = {};

    // A whole-call match on the whole text decides at once.
    if (lookUp(working, recordA) == 99) {
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
        const int d = lookUp(parts[0], recordA);
        const int e = lookUp(parts[1], recordB);
        if (d > e) {
            return ContinentBitOfRecord(recordA);
        }
        if (e == 0) {
            return 0;
        }
        return ContinentBitOfRecord(recordB);
    }

    // Otherwise the chosen part decides.
    if (lookUp(chosen, recordA) == 0) {
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
    return CurrentCountryFile() != nullptr;
}

std::string CountryFileFolder()
{
    std::error_code error;
    std::string folder = std::filesystem::current_path(error).string();
    return error ? std::string() : folder;
}
