#include "cluster/node_lines.h"

#include "spot/text.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <utility>

namespace {

constexpr std::string_view kDxDe = "DX de ";
constexpr std::size_t kFrequencyEnd = 24; ///< one past the frequency's last column
constexpr std::size_t kCallWidth = 12;
constexpr std::size_t kCommentWidth = 30;
constexpr std::size_t kShowFrequencyWidth = 9;
constexpr std::time_t kDay = 24 * 60 * 60;
/// How far a source's clock may run ahead of ours before its time is read as of the day before.
constexpr int kClockSlackMinutes = 60;

/// The fields as the node writes them: printable, the frequency at most 10 characters, the time a
/// clock time.
struct NodeFields
{
    std::string spotter;
    std::string frequency;
    std::string dxCall;
    std::string comment;
    std::string time;
};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

/// `text` with invalid bytes as '?' and control characters as `control`: nothing a terminal or a
/// logger would take for a command or a line end.
std::string Printable(std::string_view text, char control)
{
    std::string printable = ValidUtf8(text);
    std::replace_if(
        printable.begin(), printable.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7F'; }, control);
    return printable;
}

std::string_view WithoutLeadingBlanks(std::string_view text)
{
    text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
    return text;
}

/// kHz with one decimal whatever the page wrote ("14025", "7012.55"); a word that is no figure
/// stays as it is, so the reader sees what the page gave.
std::string Frequency(std::string_view text)
{
    const bool figure = std::any_of(text.begin(), text.end(), IsDigit)
        && std::all_of(text.begin(), text.end(), [](char c) { return IsDigit(c) || c == '.'; })
        && std::count(text.begin(), text.end(), '.') <= 1;
    double khz = 0;
    if (figure && std::from_chars(text.data(), text.data() + text.size(), khz).ec == std::errc()) {
        char formatted[32];
        const auto [end, error]
            = std::to_chars(formatted, formatted + sizeof formatted, khz, std::chars_format::fixed, 1);
        const auto length = static_cast<std::size_t>(end - formatted);
        if (error == std::errc() && length <= kFrequencyColumn.width) {
            return {formatted, length};
        }
    }
    return Printable(FirstCharacters(text, kFrequencyColumn.width), '?');
}

bool IsClockTime(std::string_view text)
{
    return text.size() == 4 && std::all_of(text.begin(), text.end(), IsDigit)
        && (text[0] - '0') * 10 + (text[1] - '0') < 24 && text[2] < '6';
}

int MinuteOfDay(std::string_view hhmm)
{
    return ((hhmm[0] - '0') * 10 + (hhmm[1] - '0')) * 60 + (hhmm[2] - '0') * 10 + (hhmm[3] - '0');
}

/// The first word of `text`, and what follows it without the blanks between.
std::pair<std::string, std::string> FirstWordAndRest(std::string_view text)
{
    text = WithoutLeadingBlanks(text);
    const std::size_t end = std::min(text.find(' '), text.size());
    return {std::string(text.substr(0, end)), std::string(WithoutLeadingBlanks(text.substr(end)))};
}

NodeFields FieldsOf(const Spot& spot, std::time_t sent)
{
    NodeFields fields;
    fields.spotter = Printable(FirstCharacters(spot.spotter, kSpotterLimit), '?');
    // A page's columns lie side by side: text that did not keep to its column runs on into the
    // next one, so what follows a column's first word goes in front of the next column.
    const auto [frequency, afterFrequency] = FirstWordAndRest(spot.frequency);
    const auto [call, afterCall] = FirstWordAndRest(afterFrequency + spot.dxCall);
    fields.frequency = Frequency(frequency);
    fields.dxCall = Printable(FirstCharacters(call, kSpotterLimit), '?');
    fields.comment = Printable(afterCall + spot.comment, ' ');
    const std::string_view time = TrimBlanks(spot.time);
    fields.time = IsClockTime(time) ? std::string(time) : FormatUtc(sent, "%H%M");
    return fields;
}

void PadTo(std::string& text, std::size_t characters)
{
    const std::size_t count = CharacterCount(text);
    text.append(characters - std::min(characters, count), ' ');
}

/// The DX call filled to 12, and the comment's width after it: a longer call takes its excess from
/// the comment, so that what follows the comment keeps its column.
std::pair<std::string, std::size_t> CallAndCommentWidth(const NodeFields& fields)
{
    std::string call = fields.dxCall;
    const std::size_t excess = CharacterCount(call) - std::min(CharacterCount(call), kCallWidth);
    PadTo(call, kCallWidth);
    return {call, kCommentWidth - excess};
}

} // namespace

std::string NodeSpotLine(const Spot& spot, std::time_t sent)
{
    const NodeFields fields = FieldsOf(spot, sent);
    const std::size_t frequencyStart = kFrequencyEnd - CharacterCount(fields.frequency);
    std::string line(kDxDe);
    // The spotter, its colon and one blank must end before the frequency.
    line += FirstCharacters(fields.spotter, frequencyStart - kDxDe.size() - 2);
    line += ':';
    PadTo(line, frequencyStart);
    line += fields.frequency;
    line += "  ";
    const auto [call, commentWidth] = CallAndCommentWidth(fields);
    line += call;
    line += ' ';
    line += FitToWidth(fields.comment, commentWidth);
    line += ' ';
    line += fields.time;
    line += 'Z';
    return line;
}

std::string ShowDxLine(const Spot& spot, std::time_t sent)
{
    const NodeFields fields = FieldsOf(spot, sent);
    const bool dayBefore
        = MinuteOfDay(fields.time) > MinuteOfDay(FormatUtc(sent, "%H%M")) + kClockSlackMinutes;
    std::string line;
    PadTo(line, kShowFrequencyWidth - std::min(kShowFrequencyWidth, CharacterCount(fields.frequency)));
    line += fields.frequency;
    line += ' ';
    const auto [call, commentWidth] = CallAndCommentWidth(fields);
    line += call;
    line += ' ';
    line += ClusterDate(dayBefore ? sent - kDay : sent);
    line += ' ';
    line += fields.time;
    line += "Z ";
    line += FitToWidth(fields.comment, commentWidth);
    line += " <";
    line += fields.spotter;
    line += '>';
    return line;
}
