#include "ui/dialog_units.h"

#include <QFontMetrics>
#include <QWidget>

namespace {

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c)
{
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

DialogBaseUnits BaseUnitsOfWidget(const QWidget* widget)
{
    return BaseUnitsOf(QFontMetrics(widget->font()));
}

} // namespace

DialogBaseUnits BaseUnitsOf(const QFontMetrics& metrics)
{
    // The letters' mean advance rather than the font's declared average width: the declared
    // value varies widely between fonts and would make the controls too narrow for their text.
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int total = metrics.horizontalAdvance(letters);
    return {(total + 26) / 52, metrics.height()};
}

QRect MapDialogRect(const QRect& units, const DialogBaseUnits& base)
{
    return {MulDiv(units.x(), base.cx, 4), MulDiv(units.y(), base.cy, 8), MulDiv(units.width(), base.cx, 4),
            MulDiv(units.height(), base.cy, 8)};
}

void PlaceControl(QWidget* widget, int left, int top, int width, int height)
{
    const QWidget* dialog = widget->parentWidget() != nullptr ? widget->window() : widget;
    widget->setGeometry(MapDialogRect(QRect(left, top, width, height), BaseUnitsOfWidget(dialog)));
}

void SetDialogSize(QWidget* dialog, int width, int height)
{
    dialog->setFixedSize(MapDialogRect(QRect(0, 0, width, height), BaseUnitsOfWidget(dialog)).size());
}

void SetMinimumDialogSize(QWidget* dialog, int width, int height)
{
    const QSize size = MapDialogRect(QRect(0, 0, width, height), BaseUnitsOfWidget(dialog)).size();
    dialog->setMinimumSize(size);
    dialog->resize(size);
}
