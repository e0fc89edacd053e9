#include "relay/spot_feeds.h"

#include <algorithm>
#include <array>
#include <charconv>
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

constexpr std::string_view kBlanks = " \t\r\n";
// The first second of the year 10000: later times have no four-digit year.
constexpr double kEpochEnd = 253402300800.0;

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

/// When a record was spotted: HHMM for the cluster line, and "YYYY-MM-DD HH:MM:SS" to order by.
struct Stamp
{
    std::string clock;
    std::string order;
};

std::optional<Stamp> StampOf(std::string_view date, int hours, int minutes, int seconds)
{
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59) {
        return std::nullopt;
    }
    const auto two = [](int n) { return std::string {static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)}; };
    return Stamp {two(hours) + two(minutes), std::string(date) + " " + two(hours) + ":" + two(minutes) + ":" + two(seconds)};
}

// DX Summit's "YYYY-MM-DDTHH:MM:SS", UTC without a zone.
std::optional<Stamp> StampOfDateTime(std::string_view text)
{
    if (text.size() != 19 || !IsDate(text.substr(0, 10)) || text[10] != 'T' || text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    return StampOf(text.substr(0, 10), Number(text, 11, 2), Number(text, 14, 2), Number(text, 17, 2));
}

// HamQTH's "HHMM YYYY-MM-DD".
std::optional<Stamp> StampOfCaretTime(std::string_view text)
{
    if (text.size() != 15 || text[4] != ' ' || !IsDate(text.substr(5))) {
        return std::nullopt;
    }
    return StampOf(text.substr(5), Number(text, 0, 2), Number(text, 2, 2), 0);
}

// Spothole's epoch seconds; the cluster line's time is UTC.
std::optional<Stamp> StampOfEpoch(double seconds)
{
    if (!(seconds >= 0 && seconds < kEpochEnd)) {
        return std::nullopt;
    }
    const auto when = static_cast<std::time_t>(seconds);
    return Stamp {FormatUtc(when, "%H%M"), FormatUtc(when, "%Y-%m-%d %H:%M:%S")};
}

/// A spot of a feed, and when it was spotted.
struct Record
{
    Spot spot;
    std::string order;
};

std::optional<Record> RecordOf(std::string_view spotter, double khz, std::string_view dxCall,
                               std::string_view comment, const std::optional<Stamp>& stamp)
{
    if (!stamp) {
        return std::nullopt;
    }
    auto spot = SpotOfFields(spotter, khz, dxCall, comment, stamp->clock);
    if (!spot) {
        return std::nullopt;
    }
    return Record {std::move(*spot), stamp->order};
}

// HamQTH escapes quotes and backslashes in its fields: 73\'s.
std::string Unescaped(std::string_view text)
{
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '\'' || text[i + 1] == '"' || text[i + 1] == '\\')) {
            ++i;
        }
        plain += text[i];
    }
    return plain;
}

std::optional<std::string> TextOf(const QJsonValue& value)
{
    if (!value.isString()) {
        return std::nullopt;
    }
    return value.toString().toStdString();
}

// DX Summit's shape when the record has "frequency", Spothole's otherwise.
std::optional<Record> RecordOfObject(const QJsonObject& record)
{
    const bool dxSummit = record.contains(QLatin1String("frequency"));
    const QJsonValue frequency = record.value(QLatin1String(dxSummit ? "frequency" : "freq"));
    const QJsonValue comment = record.value(QLatin1String(dxSummit ? "info" : "comment"));
    const QJsonValue time = record.value(QLatin1String("time"));
    const auto de = TextOf(record.value(QLatin1String("de_call")));
    const auto dx = TextOf(record.value(QLatin1String("dx_call")));
    // A spot without a comment is still a spot, as a blank comment column on a page is.
    const auto note = comment.isNull() || comment.isUndefined() ? std::string() : TextOf(comment);
    std::optional<Stamp> stamp;
    if (dxSummit && time.isString()) {
        stamp = StampOfDateTime(time.toString().toStdString());
    } else if (!dxSummit && time.isDouble()) {
        stamp = StampOfEpoch(time.toDouble());
    }
    if (!de || !dx || !note || !frequency.isDouble()) {
        return std::nullopt;
    }
    const double khz = dxSummit ? frequency.toDouble() : frequency.toDouble() / 1000;
    return RecordOf(*de, khz, *dx, *note, stamp);
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

std::optional<std::vector<Record>> ParseJsonArray(std::string_view body)
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
    const QJsonArray array = document.array();
    std::vector<Record> records;
    for (const QJsonValue& value : array) {
        if (auto record = value.isObject() ? RecordOfObject(value.toObject()) : std::nullopt) {
            records.push_back(std::move(*record));
        }
    }
    if (records.empty() && !array.isEmpty()) {
        return std::nullopt;
    }
    return records;
}

// Spotter^Freq(kHz)^DXCall^Comment^HHMM YYYY-MM-DD^...: the first five fields.
std::optional<Record> RecordOfCaretLine(std::string_view line)
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
    return RecordOf(fields[0], khz, fields[2], Unescaped(fields[3]), StampOfCaretTime(fields[4]));
}

std::optional<std::vector<Record>> ParseCaretLines(std::string_view body)
{
    std::vector<Record> records;
    std::size_t looked = 0;
    while (!body.empty() && looked < kFeedRecordLimit) {
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
        ++looked;
        if (auto record = RecordOfCaretLine(line)) {
            records.push_back(std::move(*record));
        }
    }
    if (records.empty()) {
        return std::nullopt;
    }
    return records;
}

} // namespace

std::optional<std::vector<Spot>> ParseSpotFeed(const std::string& body)
{
    const std::size_t first = body.find_first_not_of(kBlanks);
    if (first == std::string::npos) {
        return std::nullopt;
    }
    auto records = body[first] == '[' ? ParseJsonArray(body) : ParseCaretLines(body);
    if (!records) {
        return std::nullopt;
    }
    // The services list the newest first; the log and the serial line take them oldest first.
    std::stable_sort(records->begin(), records->end(),
                     [](const Record& a, const Record& b) { return a.order < b.order; });
    std::vector<Spot> spots;
    spots.reserve(records->size());
    for (Record& record : *records) {
        spots.push_back(std::move(record.spot));
    }
    return spots;
}
