#include "telnet/dx_line.h"

#include "spot/text.h"

#include <algorithm>
#include <charconv>
#include <string>

namespace {

constexpr std::string_view kSpotStart = "DX de ";
constexpr char kBlank = ' ';

/// The first blank-delimited token of `text` from `at`; `at` moves past it.
std::string_view NextToken(std::string_view text, std::size_t& at)
{
    const std::size_t start = text.find_first_not_of(kBlank, at);
    if (start == std::string_view::npos) {
        at = text.size();
        return {};
    }
    const std::size_t end = std::min(text.find(kBlank, start), text.size());
    at = end;
    return text.substr(start, end - start);
}

/// "HHMMZ": four digits of a time of day and a 'Z'.
bool IsTimeToken(std::string_view token)
{
    if (token.size() != 5 || token[4] != 'Z') {
        return false;
    }
    for (const char c : token.substr(0, 4)) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return (token[0] - '0') * 10 + (token[1] - '0') < 24 && token[2] < '6';
}

/// A frequency token read whole as kHz, whatever the user's locale.
std::optional<double> KhzOf(std::string_view token)
{
    double khz = 0;
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), khz);
    if (token.empty() || error != std::errc() || end != token.data() + token.size()) {
        return std::nullopt;
    }
    return khz;
}

} // namespace

std::optional<Spot> SpotOfDxLine(std::string_view line)
{
    if (!line.starts_with(kSpotStart)) {
        return std::nullopt;
    }
    const std::string_view rest = line.substr(kSpotStart.size());
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view spotter = rest.substr(0, colon);
    std::size_t at = colon + 1;
    const auto khz = KhzOf(NextToken(rest, at));
    const std::string_view dxCall = NextToken(rest, at);
    const std::size_t commentStart = at;

    // The last time token: a comment may hold one too, and text may follow the real one.
    std::size_t timeStart = std::string_view::npos;
    for (std::size_t next = at; next < rest.size();) {
        const std::string_view token = NextToken(rest, next);
        if (IsTimeToken(token)) {
            timeStart = next - token.size();
        }
    }
    if (!khz || dxCall.empty() || timeStart == std::string_view::npos) {
        return std::nullopt;
    }
    return SpotOfFields(spotter, *khz, dxCall,
                        TrimBlanks(rest.substr(commentStart, timeStart - commentStart)),
                        std::string(rest.substr(timeStart, 4)));
}
