#include "relay/spot_feeds.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <utility>

#include <QByteArray>
#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

namespace {

constexpr std::size_t kCallLimit = 20;
constexpr std::string_view kBlanks = " \t\r\n";
// The first second of the year 10000: later times have no four-digit year.
constexpr double kEpochEnd = 253402300800.0;

// A call as a page's column would carry it: no blank or control character, which would shift or
// break the cluster line; at most 20 bytes.
std::optional<std::string> CallOf(std::string_view text)
{
    if (text.empty() || text.size() > kCallLimit) {
        return std::nullopt;
    }
    for (const char c : text) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == '\x7F') {
            return std::nullopt;
        }
    }
    return std::string(text);
}

// "%10.1f", as a page's frequency column holds it. A frequency that is not finite, rounds to 0.0
// or below, or needs more than the 10 columns would shift or fake the rest of the line.
std::optional<std::string> FrequencyColumn(double khz)
{
    if (!std::isfinite(khz) || khz < 0.05) {
        return std::nullopt;
    }
    char text[16];
    if (std::snprintf(text, sizeof text, "%10.1f", khz) != 10) {
        return std::nullopt;
    }
    return std::string(text);
}

// The value of `count` digits at `at`, or -1 when any of them is not a digit.
int Number(std::string_view text, std::size_t at, std::size_t count)
{
    if (at > text.size() || count > text.size() - at) {
        return -1;
    }
    int value = 0;
    for (const char c : text.substr(at, count)) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// "YYYY-MM-DD", a date of the calendar.
bool IsDate(std::string_view text)
{
    const int year = Number(text, 0, 4);
    return text.size() == 10 && text[4] == '-' && text[7] == '-' && year > 0
        && QDate(year, Number(text, 5, 2), Number(text, 8, 2)).isValid();
}

std::optional<std::string> Clock(int hours, int minutes)
{
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59) {
        return std::nullopt;
    }
    return std::string {static_cast<char>('0' + hours / 10), static_cast<char>('0' + hours % 10),
                        static_cast<char>('0' + minutes / 10), static_cast<char>('0' + minutes % 10)};
}

// DX Summit's "YYYY-MM-DDTHH:MM:SS", UTC without a zone.
std::optional<std::string> ClockOfDateTime(std::string_view text)
{
    const int seconds = Number(text, 17, 2);
    if (text.size() != 19 || !IsDate(text.substr(0, 10)) || text[10] != 'T' || text[13] != ':'
        || text[16] != ':' || seconds < 0 || seconds > 59) {
        return std::nullopt;
    }
    return Clock(Number(text, 11, 2), Number(text, 14, 2));
}

// HamQTH's "HHMM YYYY-MM-DD".
std::optional<std::string> ClockOfCaretTime(std::string_view text)
{
    if (text.size() != 15 || text[4] != ' ' || !IsDate(text.substr(5))) {
        return std::nullopt;
    }
    return Clock(Number(text, 0, 2), Number(text, 2, 2));
}

// Spothole's epoch seconds; the cluster line's time is UTC.
std::optional<std::string> ClockOfEpoch(double seconds)
{
    if (!(seconds >= 0 && seconds < kEpochEnd)) {
        return std::nullopt;
    }
    return FormatUtc(static_cast<std::time_t>(seconds), "%H%M");
}

std::optional<Spot> MakeSpot(std::string_view spotter, double khz, std::string_view dxCall,
                             std::string_view comment, const std::optional<std::string>& time)
{
    auto de = CallOf(spotter);
    auto dx = CallOf(dxCall);
    auto frequency = FrequencyColumn(khz);
    if (!de || !dx || !frequency || !time) {
        return std::nullopt;
    }
    Spot spot {std::move(*de), std::move(*frequency), " " + *dx,
               std::string(comment.substr(0, kCommentColumn.width)), *time};
    spot.dxCall.resize(kDxCallColumn.width, ' ');
    spot.comment.resize(kCommentColumn.width, ' ');
    // A feed's comment may hold what a page line cannot, a line feed above all.
    for (char& c : spot.comment) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '\x7F') {
            c = ' ';
        }
    }
    return spot;
}

std::optional<std::string> TextOf(const QJsonValue& value)
{
    if (!value.isString()) {
        return std::nullopt;
    }
    return value.toString().toStdString();
}

// DX Summit's shape when the record has "frequency", Spothole's otherwise.
std::optional<Spot> SpotOfObject(const QJsonObject& record)
{
    const bool dxSummit = record.contains(QLatin1String("frequency"));
    const QJsonValue frequency = record.value(QLatin1String(dxSummit ? "frequency" : "freq"));
    const QJsonValue comment = record.value(QLatin1String(dxSummit ? "info" : "comment"));
    const QJsonValue time = record.value(QLatin1String("time"));
    const auto de = TextOf(record.value(QLatin1String("de_call")));
    const auto dx = TextOf(record.value(QLatin1String("dx_call")));
    // A spot without a comment is still a spot, as a blank comment column on a page is.
    const auto note = comment.isNull() || comment.isUndefined() ? std::string() : TextOf(comment);
    std::optional<std::string> clock;
    if (dxSummit && time.isString()) {
        clock = ClockOfDateTime(time.toString().toStdString());
    } else if (!dxSummit && time.isDouble()) {
        clock = ClockOfEpoch(time.toDouble());
    }
    if (!de || !dx || !note || !frequency.isDouble()) {
        return std::nullopt;
    }
    const double khz = dxSummit ? frequency.toDouble() : frequency.toDouble() / 1000;
    return MakeSpot(*de, khz, *dx, *note, clock);
}

// The length of the body's JSON text to parse: up to the end of the last element of the top-level
// array that is among the first kFeedRecordLimit and ends within kFeedJsonTextLimit bytes (a "]"
// then closes it again). Only strings and brackets are followed here; the parse checks the rest.
// Nothing when the array never closes (a cut transfer) or anything but blanks follows it.
std::optional<std::size_t> JsonTextToParse(std::string_view body)
{
    std::size_t depth = 0;
    std::size_t ends = 0;
    std::size_t taken = 0;
    bool inString = false;
    bool escaped = false;
    for (std::size_t at = 0; at < body.size(); ++at) {
        const char c = body[at];
        if (inString) {
            inString = escaped || c != '"';
            escaped = !escaped && c == '\\';
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            ++depth;
        } else if (c == ']' || c == '}') {
            if (depth == 0) {
                return std::nullopt;
            }
            --depth;
        }
        // A comma between the array's elements, or the array's close, ends an element.
        if ((depth == 1 && c == ',') || (depth == 0 && c == ']')) {
            if (++ends <= kFeedRecordLimit && at <= kFeedJsonTextLimit) {
                taken = at;
            }
            if (depth == 0) {
                return body.find_first_not_of(kBlanks, at + 1) == std::string_view::npos
                    ? std::optional<std::size_t>(taken)
                    : std::nullopt;
            }
        }
    }
    return std::nullopt;
}

std::optional<std::vector<Spot>> ParseJsonArray(std::string_view body)
{
    const std::optional<std::size_t> length = JsonTextToParse(body);
    if (!length) {
        return std::nullopt;
    }
    QByteArray text(body.data(), static_cast<qsizetype>(*length));
    text += ']';
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        return std::nullopt;
    }
    const QJsonArray records = document.array();
    std::vector<Spot> spots;
    for (const QJsonValue& record : records) {
        if (auto spot = record.isObject() ? SpotOfObject(record.toObject()) : std::nullopt) {
            spots.push_back(std::move(*spot));
        }
    }
    if (spots.empty() && !records.isEmpty()) {
        return std::nullopt;
    }
    return spots;
}

// Spotter^Freq(kHz)^DXCall^Comment^HHMM YYYY-MM-DD^...: the first five fields.
std::optional<Spot> SpotOfCaretLine(std::string_view line)
{
    std::array<std::string_view, 5> fields;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::size_t caret = line.find('^');
        if (caret == std::string_view::npos && i + 1 < fields.size()) {
            return std::nullopt;
        }
        fields[i] = line.substr(0, caret);
        line.remove_prefix(caret == std::string_view::npos ? line.size() : caret + 1);
    }
    double khz = 0;
    const std::string_view frequency = fields[1];
    const auto [end, error] = std::from_chars(frequency.data(), frequency.data() + frequency.size(), khz);
    if (error != std::errc() || end != frequency.data() + frequency.size()) {
        return std::nullopt;
    }
    return MakeSpot(fields[0], khz, fields[2], fields[3], ClockOfCaretTime(fields[4]));
}

std::optional<std::vector<Spot>> ParseCaretLines(std::string_view body)
{
    std::vector<Spot> spots;
    std::size_t records = 0;
    while (!body.empty() && records < kFeedRecordLimit) {
        const std::size_t lf = body.find('\n');
        const std::string_view line = body.substr(0, lf);
        body.remove_prefix(lf == std::string_view::npos ? body.size() : lf + 1);
        if (line.find_first_not_of(kBlanks) == std::string_view::npos) {
            continue;
        }
        // A line of another kind: an error page or a mix, not a feed.
        if (line.find('^') == std::string_view::npos) {
            return std::nullopt;
        }
        ++records;
        if (auto spot = SpotOfCaretLine(line)) {
            spots.push_back(std::move(*spot));
        }
    }
    if (spots.empty()) {
        return std::nullopt;
    }
    return spots;
}

} // namespace

std::optional<std::vector<Spot>> ParseSpotFeed(const std::string& body)
{
    const std::size_t first = body.find_first_not_of(kBlanks);
    if (first == std::string::npos) {
        return std::nullopt;
    }
    if (body[first] == '[') {
        return ParseJsonArray(body);
    }
    return ParseCaretLines(body);
}
