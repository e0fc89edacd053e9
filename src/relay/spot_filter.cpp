#include "relay/spot_filter.h"

#include "country/country.h"
#include "spot/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

namespace {

struct ModeWord
{
    std::string_view word;
    SpotMode mode;
};

constexpr std::array<ModeWord, 24> kModeWords = {{
    {"CW", kModeCw},         {"SSB", kModePhone},    {"USB", kModePhone},    {"LSB", kModePhone},
    {"AM", kModePhone},      {"FM", kModePhone},     {"PHONE", kModePhone},  {"FT8", kModeDigital},
    {"FT4", kModeDigital},   {"RTTY", kModeDigital}, {"PSK", kModeDigital},  {"PSK31", kModeDigital},
    {"PSK63", kModeDigital}, {"JT65", kModeDigital}, {"JT9", kModeDigital},  {"MSK144", kModeDigital},
    {"Q65", kModeDigital},   {"FST4", kModeDigital}, {"JS8", kModeDigital},  {"OLIVIA", kModeDigital},
    {"SSTV", kModeDigital},  {"WSPR", kModeDigital}, {"DIGI", kModeDigital}, {"DATA", kModeDigital},
}};

/// Digital calling frequencies in kHz; a spot up to kDigitalWidth above one is digital.
constexpr std::array<double, 20> kDigitalCalls
    = {1840,  3573,  3575,  5357,  7047.5, 7074,  10136, 10140, 14074, 14080,
       18100, 18104, 21074, 21140, 24915,  24919, 28074, 28180, 50313, 50318};
constexpr double kDigitalWidth = 3;

struct Segment
{
    double lowKhz;
    double highKhz;
};

constexpr std::array<Segment, 10> kCwSegments = {{
    {1800, 1840},
    {3500, 3570},
    {7000, 7040},
    {10100, 10130},
    {14000, 14070},
    {18068, 18095},
    {21000, 21070},
    {24890, 24915},
    {28000, 28070},
    {50000, 50100},
}};

struct Range
{
    const char* key;
    std::int32_t RelaySettings::*member;
    std::int32_t max;
};

constexpr std::array<Range, 3> kRanges = {{
    {"Bands", &RelaySettings::Bands, kAllBands},
    {"Modes", &RelaySettings::Modes, kAllModes},
    {"SkimmerRepeat", &RelaySettings::SkimmerRepeat, kMaxSkimmerRepeat},
}};

bool InRange(const RelaySettings& settings, const Range& range)
{
    const std::int32_t value = settings.*range.member;
    return value >= 0 && value <= range.max;
}

/// The setting as the filter applies it: 0, off, when it is out of range.
std::int32_t InEffect(const RelaySettings& settings, std::int32_t RelaySettings::*member)
{
    for (const Range& range : kRanges) {
        if (range.member == member && !InRange(settings, range)) {
            return 0;
        }
    }
    return settings.*member;
}

/// Never the locale's number format: a German locale would read "14025.0" as 14025.
std::optional<double> KhzOf(std::string_view field)
{
    const std::string_view text = TrimBlanks(field);
    double khz = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, khz);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(khz)) {
        return std::nullopt;
    }
    return khz;
}

std::int32_t BandOf(std::optional<double> khz)
{
    if (khz) {
        for (const Band& band : kBands) {
            if (*khz >= band.lowKhz && *khz <= band.highKhz) {
                return band.bit;
            }
        }
    }
    return kOtherBand;
}

bool IsWordCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

/// The mode of the comment's first mode word, 0 when it has none.
std::int32_t ModeOfComment(std::string_view comment)
{
    std::size_t start = 0;
    while (start < comment.size()) {
        if (!IsWordCharacter(comment[start])) {
            ++start;
            continue;
        }
        std::size_t end = start;
        while (end < comment.size() && IsWordCharacter(comment[end])) {
            ++end;
        }
        const std::string word = UpperAscii(comment.substr(start, end - start));
        for (const ModeWord& entry : kModeWords) {
            if (entry.word == word) {
                return entry.mode;
            }
        }
        start = end;
    }
    return 0;
}

std::int32_t ModeOfFrequency(std::optional<double> khz)
{
    if (!khz) {
        return kModePhone;
    }
    for (const double call : kDigitalCalls) {
        if (*khz >= call && *khz <= call + kDigitalWidth) {
            return kModeDigital;
        }
    }
    for (const Segment& segment : kCwSegments) {
        if (*khz >= segment.lowKhz && *khz <= segment.highKhz) {
            return kModeCw;
        }
    }
    return kModePhone;
}

/// The comment says the mode best; the frequency only where it says nothing.
std::int32_t ModeOf(std::string_view comment, std::optional<double> khz)
{
    const std::int32_t mode = ModeOfComment(comment);
    return mode != 0 ? mode : ModeOfFrequency(khz);
}

/// The length of the character at the start of `text`; a byte that starts none counts as one.
std::size_t FirstCharacterLength(std::string_view text)
{
    return std::max<std::size_t>(FirstCharacters(text, 1).size(), 1);
}

/// Whether `pattern` matches the whole of `call`. Backtracks to the last `*` only, so the time is
/// bounded by the product of the lengths whatever the pattern.
bool Matches(std::string_view pattern, std::string_view call)
{
    std::size_t p = 0;
    std::size_t c = 0;
    std::size_t starP = std::string_view::npos;
    std::size_t starC = 0;
    while (c < call.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starC = c;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            c += FirstCharacterLength(call.substr(c));
        } else if (p < pattern.size() && pattern[p] == call[c]) {
            ++p;
            ++c;
        } else if (starP != std::string_view::npos) {
            // The last `*` takes one more character and the rest is tried again.
            p = starP;
            starC += FirstCharacterLength(call.substr(starC));
            c = starC;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

std::vector<std::string> PatternsOf(std::string_view list)
{
    constexpr std::string_view kSeparators = " ,\t";
    std::vector<std::string> patterns;
    std::size_t start = list.find_first_not_of(kSeparators);
    while (start != std::string_view::npos) {
        const std::size_t end = std::min(list.find_first_of(kSeparators, start), list.size());
        patterns.push_back(UpperAscii(list.substr(start, end - start)));
        start = list.find_first_not_of(kSeparators, end);
    }
    return patterns;
}

/// A skimmer network reports hundreds of spots a minute: the repeat memory keeps at most this many
/// let-through spots, the oldest forgotten first.
constexpr std::size_t kRepeatMemory = 16384;

} // namespace

SpotFilter::SpotFilter(const RelaySettings& settings)
    : m_settings(settings)
{
}

bool SpotFilter::Passes(const Spot& spot, std::chrono::steady_clock::time_point now)
{
    const std::int32_t bands = InEffect(m_settings, &RelaySettings::Bands);
    const std::int32_t modes = InEffect(m_settings, &RelaySettings::Modes);
    const std::chrono::minutes window(InEffect(m_settings, &RelaySettings::SkimmerRepeat));
    if (window.count() == 0) {
        // Turned off: what it remembered would only hold memory, and would be stale when it is on.
        m_lastPass.clear();
        m_passOrder.clear();
    }

    // The lookup takes a C string: a NUL inside the spotter ends it there.
    if (m_settings.DxccFilter != 0
        && (ContinentOfCall(SpotterField(spot).c_str()) & m_settings.DxccFilter) != 0) {
        return false;
    }
    const std::optional<double> khz = KhzOf(spot.frequency);
    const std::int32_t band = BandOf(khz);
    if (bands != 0 && (band & bands) == 0) {
        return false;
    }
    if (modes != 0 && (ModeOf(spot.comment, khz) & modes) == 0) {
        return false;
    }
    std::string call = UpperAscii(TrimBlanks(spot.dxCall));
    if (!Watched(call)) {
        return false;
    }
    return window.count() == 0
        || LetThroughOnce({std::move(call), band}, spot.spotter.ends_with("-#"), now, window);
}

bool SpotFilter::Watched(const std::string& call)
{
    if (m_settings.WatchList != m_watchText) {
        m_watchText = m_settings.WatchList;
        m_patterns = PatternsOf(m_watchText);
    }
    if (m_patterns.empty()) {
        return true;
    }
    for (const std::string& pattern : m_patterns) {
        if (Matches(pattern, call)) {
            return true;
        }
    }
    return false;
}

bool SpotFilter::LetThroughOnce(RepeatKey key, bool skimmer, Clock::time_point now,
                                std::chrono::minutes window)
{
    Forget(now, window);
    const auto last = m_lastPass.find(key);
    if (skimmer && last != m_lastPass.end() && now - last->second < window) {
        // Held back without a record: the window runs from the spot that was let through.
        return false;
    }
    m_lastPass.insert_or_assign(key, now);
    m_passOrder.emplace_back(now, std::move(key));
    return true;
}

void SpotFilter::Forget(Clock::time_point now, std::chrono::minutes window)
{
    while (!m_passOrder.empty()
           && (now - m_passOrder.front().first >= window || m_passOrder.size() >= kRepeatMemory)) {
        const auto& [time, key] = m_passOrder.front();
        // A later pass of the same call and band has its own entry further on.
        if (const auto last = m_lastPass.find(key); last != m_lastPass.end() && last->second == time) {
            m_lastPass.erase(last);
        }
        m_passOrder.pop_front();
    }
}

std::string FilterSettingsReport(const RelaySettings& settings)
{
    std::string report;
    for (const Range& range : kRanges) {
        if (!InRange(settings, range)) {
            report += (report.empty() ? "" : "; ") + std::string(range.key) + " "
                + std::to_string(settings.*range.member) + " is out of range (0 to "
                + std::to_string(range.max) + "), treated as off";
        }
    }
    return report;
}
