#pragma once

#include <string>

#include <QPlainTextEdit>
#include <QPointer>
#include <QString>

class QAction;

/// The log as the control shows it: the relay's bytes decoded as UTF-8 with every "\r\n" one line
/// break, and the relay's byte selection moved onto that text.
struct LogView
{
    QString text;
    int selStart = 0;
    int selEnd = 0;
};

/// Converts the log bytes and a byte selection [selStart, selEnd) into what the control shows.
/// Offsets are clipped to the text; an end that falls inside a "\r\n" covers the whole line break.
[[nodiscard]] LogView ToLogView(const std::string& bytes, int selStart, int selEnd);

/// The spot log control (1001): read-only, no wrap, both scroll bars, a fixed-pitch font.
class CSpotEdit : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit CSpotEdit(QWidget* parent = nullptr);

    /// Replaces the whole text, selects [selStart, selEnd) of the bytes and scrolls it into view.
    void ShowLog(const std::string& text, int selStart, int selEnd);

    /// An item appended to the log's own context menu (the About item).
    void SetExtraMenuAction(QAction* action) { m_extraAction = action; }

    /// "Courier New", or the system's fixed-pitch font when that face is not installed, at the
    /// largest size whose character cell (ascent and descent) is at most 14 pixels high.
    [[nodiscard]] static QFont LogFont();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    /// Enter in the log does nothing: it is not a press of the window's default button.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPointer<QAction> m_extraAction;
};
