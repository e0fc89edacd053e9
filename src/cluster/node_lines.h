#pragma once

#include "spot/spot.h"

#include <ctime>
#include <string>

// The node writes its own lines from a spot's fields: loggers read fixed columns (xdx takes the
// DX call from column 26), which the serial line's bytes do not keep. Fields from a page may hold
// anything: text that ran past its column is read on into the next, what cannot be read is
// written as well as it can be, never as invalid UTF-8 (such bytes become '?') and never shifting
// the columns after it. Widths are counted in characters.

/// The spot as a node announces it, without a line end:
/// "DX de " at 0; the spotter and ":" from 6; the frequency in kHz with one decimal, right-aligned
/// to end at column 23, at least one blank before it (a spotter too long for that is cut); the DX
/// call from 26, filled to 12; the comment from 39, 30 characters; the time "HHMM" at 70 and "Z" at
/// 74. A DX call of more than 12 characters is written whole and the comment shortened by as
/// much. A spot without a clock time takes the time it was `sent`, in UTC.
[[nodiscard]] std::string NodeSpotLine(const Spot& spot, std::time_t sent);

/// The spot as "sh/dx" lists it, without a line end: the frequency right-aligned in 9 columns, the
/// DX call filled to 12, the date and "HHMMZ" it was spotted, the comment and "<spotter>", e.g.
/// "  14025.0 K1ABC        7-Dec-2026 1234Z CQ test                        <DL1XYZ>". A time
/// more than an hour later in the day than the moment the node `sent` the spot is of the day
/// before; within the hour it is a clock running a little ahead.
[[nodiscard]] std::string ShowDxLine(const Spot& spot, std::time_t sent);
