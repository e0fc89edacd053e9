#pragma once

#include <QRect>
#include <QString>

class QGroupBox;
class QLabel;
class QPushButton;
class QWidget;

// Controls of the dialogs, made and placed at their dialog-unit rectangles (left, top, width,
// height) and named by their template ids.

/// A plain-text label; it grows to fit a font wider than the template's.
QLabel* AddLabel(QWidget* dialog, const char* name, const QString& text, const QRect& units);

QPushButton* AddButton(QWidget* dialog, const char* id, const QString& caption, const QRect& units);

/// A frame with a title, kept below the controls drawn inside it.
QGroupBox* AddGroupBox(QWidget* dialog, const char* name, const QString& title, const QRect& units);
