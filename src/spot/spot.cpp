#include "spot/spot.h"

#include <array>

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
