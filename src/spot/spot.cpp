#include "spot/spot.h"

#include "spot/text.h"

#include <array>
#include <charconv>
#include <cmath>

namespace {

// A call as a page's column would carry it: no blank or control character, at most 20 characters.
std::optional<std::string> CallOf(std::string_view text)
{
    std::string call = UpperAscii(ValidUtf8(text));
    if (call.empty() || CharacterCount(call) > kSpotterLimit) {
        return std::nullopt;
    }
    for (const char c : call) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == '\x7F') {
            return std::nullopt;
        }
    }
    return call;
}

// "%10.1f", as a page's frequency column holds it, whatever the locale.
std::optional<std::string> FrequencyColumn(double khz)
{
    if (!std::isfinite(khz) || khz < 0.05) {
        return std::nullopt;
    }
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, khz, std::chars_format::fixed, 1);
    const auto length = static_cast<std::size_t>(end - text);
    if (error != std::errc() || length > kFrequencyColumn.width) {
        return std::nullopt;
    }
    return std::string(kFrequencyColumn.width - length, ' ') + std::string(text, length);
}

} // namespace

std::optional<Spot> SpotOfFields(std::string_view spotter, double khz, std::string_view dxCall,
                                 std::string_view comment, const std::string& time)
{
    auto de = CallOf(spotter);
    auto dx = CallOf(dxCall);
    auto frequency = FrequencyColumn(khz);
    if (!de || !dx || !frequency) {
        return std::nullopt;
    }
    // A page's DX column opens with a blank and holds 11 characters of the call; a call of 12
    // fills it, and a longer one widens it rather than lose its end.
    std::string dxField = CharacterCount(*dx) < kDxCallColumn.width ? FitToWidth(" " + *dx, kDxCallColumn.width) : *dx;
    // A feed's comment may hold what a page line cannot, a line feed above all.
    std::string note = ValidUtf8(comment);
    for (char& c : note) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '\x7F') {
            c = ' ';
        }
    }
    return Spot {std::move(*de), std::move(*frequency), std::move(dxField), FitToWidth(note, kCommentColumn.width),
                 time};
}

std::string SpotterField(const Spot& spot)
{
    return spot.spotter + ":";
}

std::string ClusterLine(const Spot& spot)
{
    // The spotter field is filled to 9 but never shortened.
    std::string line = "DX de ";
    line += SpotterField(spot);
    if (line.size() < 6 + 9) {
        line.append(6 + 9 - line.size(), ' ');
    }
    line += spot.frequency;
    line += ' ';
    line += spot.dxCall;
    line += ' ';
    line += spot.comment;
    line += ' ';
    line += spot.time;
    line += 'Z';
    return line;
}

std::string FormatUtc(std::time_t time, const char* format)
{
    std::tm utc {};
    gmtime_r(&time, &utc);
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, format, &utc);
    return {text, length};
}

std::string ClusterDate(std::time_t time)
{
    static constexpr std::array<const char*, 12> kMonths
        = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm utc {};
    gmtime_r(&time, &utc);
    return std::to_string(utc.tm_mday) + "-" + kMonths[static_cast<std::size_t>(utc.tm_mon)] + "-"
        + std::to_string(utc.tm_year + 1900);
}
