#include "ui/template_controls.h"

#include "ui/dialog_units.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

QLabel* AddLabel(QWidget* dialog, const char* name, const QString& text, const QRect& units)
{
    auto* label = new QLabel(text, dialog);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    PlaceControl(label, units.x(), units.y(), units.width(), units.height());
    // The template's widths fit its own font; a wider face must not cut the text off. The label
    // stays below its neighbours where it then reaches into them.
    if (const int needed = label->fontMetrics().horizontalAdvance(text); needed > label->width()) {
        label->resize(needed, label->height());
    }
    label->lower();
    return label;
}

QPushButton* AddButton(QWidget* dialog, const char* id, const QString& caption, const QRect& units)
{
    auto* button = new QPushButton(caption, dialog);
    button->setObjectName(QLatin1String(id));
    PlaceControl(button, units.x(), units.y(), units.width(), units.height());
    return button;
}

QGroupBox* AddGroupBox(QWidget* dialog, const char* name, const QString& title, const QRect& units)
{
    auto* group = new QGroupBox(title, dialog);
    group->setObjectName(QLatin1String(name));
    PlaceControl(group, units.x(), units.y(), units.width(), units.height());
    group->lower(); // a frame only: the controls drawn inside it must stay clickable
    return group;
}
