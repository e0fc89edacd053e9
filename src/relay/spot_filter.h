#pragma once

#include "settings/relay_settings.h"
#include "spot/spot.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

/// A band of the Bands setting: its bit, its name for people and its edges in kHz, which belong
/// to it.
struct Band
{
    std::int32_t bit;
    const char* name;
    double lowKhz;
    double highKhz;
};

inline constexpr std::array<Band, 12> kBands = {{
    {1, "160 m", 1800, 2000},
    {2, "80 m", 3500, 4000},
    {4, "60 m", 5250, 5450},
    {8, "40 m", 7000, 7300},
    {16, "30 m", 10100, 10150},
    {32, "20 m", 14000, 14350},
    {64, "17 m", 18068, 18168},
    {128, "15 m", 21000, 21450},
    {256, "12 m", 24890, 24990},
    {512, "10 m", 28000, 29700},
    {1024, "6 m", 50000, 54000},
    {2048, "VHF and up", 144000, std::numeric_limits<double>::infinity()},
}};

/// Every frequency outside kBands, and a frequency field that holds no number.
inline constexpr std::int32_t kOtherBand = 4096;

/// The bits of the Modes setting.
enum SpotMode : std::int32_t
{
    kModeCw = 1,
    kModePhone = 2,
    kModeDigital = 4,
};

/// Every bit of the Bands and Modes settings; a setting beyond them is out of range.
inline constexpr std::int32_t kAllBands = kOtherBand * 2 - 1;
inline constexpr std::int32_t kAllModes = kModeCw | kModePhone | kModeDigital;

/// The longest SkimmerRepeat in minutes, a day; a longer one is out of range.
inline constexpr std::int32_t kMaxSkimmerRepeat = 1440;

/// The decision whether a new spot goes to the outputs: the spotter's continent (DxccFilter), the
/// band (Bands), the mode (Modes), the DX call (WatchList) and skimmer repeats (SkimmerRepeat), a
/// spot passing only when every one lets it through. It reads the settings as they stand at each
/// call; a number setting out of range counts as 0, off. Single-threaded, like the relay core.
class SpotFilter
{
public:
    /// `settings` must outlive the filter.
    explicit SpotFilter(const RelaySettings& settings);

    /// Whether `spot` goes to the outputs. Call it once for each new spot (never for a duplicate),
    /// with the relay's steady clock at its arrival: a spot let through is remembered for
    /// SkimmerRepeat minutes, a held-back one is not.
    ///
    /// The frequency is the field's text without its blanks, read as kHz in the C locale; a field
    /// that is not wholly one finite number lies on no band ("other"), and its mode comes from the
    /// comment alone, else phone. The mode is that of the comment's first mode word (words are
    /// runs of ASCII letters and digits, any case), else that of the frequency. A watch pattern
    /// matches the whole DX call without its blanks, any case; `*` stands for any run of characters,
    /// `?` for one. A skimmer is a spotter ending in "-#"; its spot is held back when a spot of the
    /// same DX call on the same band was let through less than SkimmerRepeat minutes before.
    [[nodiscard]] bool Passes(const Spot& spot, std::chrono::steady_clock::time_point now);

private:
    using Clock = std::chrono::steady_clock;
    /// The DX call in upper case without its blanks, and the band bit.
    using RepeatKey = std::pair<std::string, std::int32_t>;

    [[nodiscard]] bool Watched(const std::string& call);
    /// Records a spot that every other filter let through, unless it is a skimmer's repeat.
    [[nodiscard]] bool LetThroughOnce(RepeatKey key, bool skimmer, Clock::time_point now,
                                      std::chrono::minutes window);
    /// Forgets what lies a window back, and the oldest beyond the memory's bound.
    void Forget(Clock::time_point now, std::chrono::minutes window);

    const RelaySettings& m_settings;
    std::string m_watchText; ///< the WatchList that m_patterns were read from
    std::vector<std::string> m_patterns;
    std::map<RepeatKey, Clock::time_point> m_lastPass;
    std::deque<std::pair<Clock::time_point, RepeatKey>> m_passOrder; ///< oldest first
};

/// "" when the filter settings are in range, or one line for the console that names each value out
/// of range and says it is treated as off, e.g. "Bands 9000 is out of range (0 to 8191), treated
/// as off". The settings loader appends it to its own report.
[[nodiscard]] std::string FilterSettingsReport(const RelaySettings& settings);
