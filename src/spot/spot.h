#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

/// A field of a "<PRE>" page's spot line: where it starts and how many characters it takes.
struct PageColumn
{
    std::size_t start;
    std::size_t width;
};

inline constexpr PageColumn kFrequencyColumn {8, 10};
inline constexpr PageColumn kDxCallColumn {18, 12};
inline constexpr PageColumn kCommentColumn {30, 30};
inline constexpr PageColumn kTimeColumn {60, 4};
/// The longest spotter the cluster line carries, in characters; a longer one is cut.
inline constexpr std::size_t kSpotterLimit = 20;

/// One spot as a "<PRE>" page's columns give it; feeds and live sources fill the same fields, so
/// that every source gives the same cluster line for the same spot.
struct Spot
{
    std::string spotter; ///< the text up to the first blank, without the colon
    std::string frequency; ///< the frequency column, blanks included
    std::string dxCall; ///< the DX call column, blanks included
    std::string comment; ///< the comment column
    std::string time; ///< HHMM

    bool operator==(const Spot&) const = default;
};

/// A spot from the fields a feed or a live source gives, as a "<PRE>" page with that spot gives it:
/// the calls in upper case, the frequency in kHz with one decimal right-aligned in 10 columns,
/// the DX field a blank and the call filled to 12 characters (a call of 12 or more characters
/// alone and whole), the comment cut or filled to 30 characters, never inside a character,
/// `time` (HHMM) as it is. Bytes that are not UTF-8 become '?', control characters in the comment
/// blanks. Nothing when a call is empty, longer than 20 characters or holds a blank or control
/// character, or the frequency is not finite, rounds to 0.0 or below, or needs more than 10
/// columns: such a spot would shift or fake the rest of the line.
[[nodiscard]] std::optional<Spot> SpotOfFields(std::string_view spotter, double khz, std::string_view dxCall,
                                               std::string_view comment, const std::string& time);

/// The field the spotter takes in the cluster line and in the continent lookup: "%s:".
[[nodiscard]] std::string SpotterField(const Spot& spot);

/// "DX de %-9s%s %s %s %sZ" of the spotter field, frequency, DX call, comment and time: the line
/// the log shows and the serial line carries, without a line end.
[[nodiscard]] std::string ClusterLine(const Spot& spot);

/// `time` in UTC by strftime's `format` of digits and signs only (names of months and days would
/// follow the user's language); loggers and journals read these, so never local time.
[[nodiscard]] std::string FormatUtc(std::time_t time, const char* format);

/// The UTC date as cluster nodes write it, in English whatever the user's language: "7-Dec-2026".
[[nodiscard]] std::string ClusterDate(std::time_t time);
