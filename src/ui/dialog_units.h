#pragma once

#include <QRect>

class QFontMetrics;
class QWidget;

/// The two base units of a dialog font: the average width of its letters and its character
/// height, in pixels. One horizontal dialog unit is cx / 4, one vertical unit is cy / 8.
struct DialogBaseUnits
{
    int cx = 0;
    int cy = 0;
};

/// Base units of a font: the average advance of the 52 letters A-Z and a-z, rounded, and the
/// character height (ascent + descent).
[[nodiscard]] DialogBaseUnits BaseUnitsOf(const QFontMetrics& metrics);

/// A rectangle in dialog units converted to pixels; each of left, top, width and height is
/// scaled and rounded on its own.
[[nodiscard]] QRect MapDialogRect(const QRect& units, const DialogBaseUnits& base);

/// Places `widget` at the dialog-unit rectangle (left, top, width, height) of its template, using
/// the base units of its parent's font.
void PlaceControl(QWidget* widget, int left, int top, int width, int height);

/// Gives `dialog` the fixed client size of its template (width × height dialog units).
void SetDialogSize(QWidget* dialog, int width, int height);

/// Gives `dialog` the client size of its template (width × height dialog units) as its size and
/// its minimum size: it may grow beyond it.
void SetMinimumDialogSize(QWidget* dialog, int width, int height);
