#pragma once

#include "spot/spot.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

/// Records looked at in one body, well-formed or not; a longer feed's later (older) ones are not read.
inline constexpr std::size_t kFeedRecordLimit = 1000;
/// JSON text parsed of one body: records that end past it are not read, so that a hostile array of
/// tiny objects costs tens of MiB, not the half GiB that parsing a whole 16 MiB body would.
inline constexpr std::size_t kFeedJsonTextLimit = 1 << 20;

/// The spots of a JSON or caret-separated spot feed, oldest first by their time (records of the
/// same time in the order the body lists them), each as SpotOfFields makes it from the record's
/// fields: what a "<PRE>" page with that spot gives. Nothing when the body is none of the known
/// formats. Malformed records are skipped.
///
/// Formats, recognised by content alone:
/// - JSON: a top-level array (first non-blank character "["). Each object is read by its fields:
///   with "frequency" it is DX Summit's shape (de_call, dx_call, frequency in kHz, info, time
///   "YYYY-MM-DDTHH:MM:SS" in UTC), otherwise Spothole's (de_call, dx_call, freq in Hz, comment,
///   time in epoch seconds). Other fields are ignored; a missing or null comment is empty.
/// - Caret-separated lines (HamQTH): Spotter^Freq(kHz)^DXCall^Comment^HHMM YYYY-MM-DD^..., the
///   fields after the fifth ignored; the comment's backslash escapes (\', \", \\) undone.
///
/// A body is a feed when it is wholly one format and gives at least one well-formed spot; an
/// empty JSON array is a feed without spots (the service had none to list). A JSON text that
/// does not close (a cut transfer) or is followed by more than blanks, caret lines mixed with
/// lines without a caret, and a body without a single well-formed spot are no feed: such a body
/// is an error page, a failed transfer or another kind of page more likely than a feed, and
/// "Received unvalid page" says so; taking its well-formed part would relay a guess.
///
/// A record is malformed, and skipped, when a field is missing or of the wrong type, SpotOfFields
/// refuses it, or the time is not a date and time of the calendar. Within kFeedJsonTextLimit and
/// kFeedRecordLimit, a hostile feed costs no more than a hostile "<PRE>" page.
[[nodiscard]] std::optional<std::vector<Spot>> ParseSpotFeed(const std::string& body);
