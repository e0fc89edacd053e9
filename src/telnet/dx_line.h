#pragma once

#include "spot/spot.h"

#include <optional>
#include <string_view>

/// The spot of a line a cluster node or a skimmer network sends, whatever program wrote it (the
/// columns differ between them): a line that begins with "DX de ", the spotter up to the ':', the
/// frequency in kHz the first token after it (glued to the ':' or not), the DX call the next
/// token, the time the last token of the form HHMMZ (a locator or other text may follow it), the
/// comment everything between the DX call and the time without its end blanks. The spot is the
/// one a "<PRE>" page with the same fields gives. Nothing for any other line (greetings, WWV,
/// announcements, talk, prompts) or a spot line that lacks a field.
[[nodiscard]] std::optional<Spot> SpotOfDxLine(std::string_view line);
