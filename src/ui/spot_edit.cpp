#include "ui/spot_edit.h"

#include <algorithm>
#include <memory>
#include <vector>

#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QTextCursor>

namespace {

// Length in UTF-16 units of the first `count` bytes once decoded.
int DecodedLength(const std::string& bytes, std::size_t count)
{
    return static_cast<int>(QString::fromUtf8(bytes.data(), static_cast<qsizetype>(count)).size());
}

} // namespace

LogView ToLogView(const std::string& bytes, int selStart, int selEnd)
{
    // Drop the CR of every CR LF pair, remembering where each source byte lands.
    std::string text;
    text.reserve(bytes.size());
    std::vector<std::size_t> landing(bytes.size() + 1, 0);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        landing[i] = text.size();
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue;
        }
        text.push_back(bytes[i]);
    }
    landing[bytes.size()] = text.size();

    const auto clip = [&bytes](int offset) {
        return static_cast<std::size_t>(
            std::clamp<long long>(offset, 0, static_cast<long long>(bytes.size())));
    };
    const std::size_t start = clip(selStart);
    const std::size_t end = std::max(start, clip(selEnd));
    std::size_t endLanding = landing[end];
    if (end > 0 && end < bytes.size() && bytes[end - 1] == '\r' && bytes[end] == '\n') {
        endLanding += 1; // the selection took the CR, so it takes the line break standing for it
    }

    LogView view;
    view.text = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    view.selStart = std::min(DecodedLength(text, landing[start]), static_cast<int>(view.text.size()));
    view.selEnd = std::min(DecodedLength(text, endLanding), static_cast<int>(view.text.size()));
    return view;
}

CSpotEdit::CSpotEdit(QWidget* parent)
    : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(true);
    setFont(LogFont());
}

QFont CSpotEdit::LogFont()
{
    QFont font(QStringLiteral("Courier New"));
    if (QFontInfo(font).family().compare(QStringLiteral("Courier New"), Qt::CaseInsensitive) != 0) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    }
    // A height of 14 asks for the cell, not the em: a 14-pixel em gives a cell of about 16.
    for (int pixels = 14; pixels > 1; --pixels) {
        font.setPixelSize(pixels);
        if (QFontMetrics(font).height() <= 14) {
            break;
        }
    }
    return font;
}

void CSpotEdit::ShowLog(const std::string& text, int selStart, int selEnd)
{
    const LogView view = ToLogView(text, selStart, selEnd);
    setPlainText(view.text);
    QTextCursor cursor(document());
    // The caret goes to the selection's start, the end of the newest entry, so that scrolling it into
    // view shows that entry rather than the empty line after it.
    cursor.setPosition(view.selEnd);
    cursor.setPosition(view.selStart, QTextCursor::KeepAnchor);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void CSpotEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void CSpotEdit::contextMenuEvent(QContextMenuEvent* event)
{
    const std::unique_ptr<QMenu> menu(createStandardContextMenu());
    if (m_extraAction != nullptr) {
        menu->addSeparator();
        menu->addAction(m_extraAction);
    }
    menu->exec(event->globalPos());
}
