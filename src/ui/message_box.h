#pragma once

#include <functional>

#include <QString>

class QWidget;

/// The program's modal boxes: owned by a window, the application name as caption, an OK button.
class MessageBox
{
public:
    enum class Icon
    {
        None,
        Stop, ///< the error box of an error that escaped a handler
    };

    struct Shown
    {
        QString text;
        QString caption;
        Icon icon = Icon::None;
        bool ownerVisible = false; ///< whether the owning window was on the screen at that moment
    };

    /// Shows the box, modal to its owner, and returns at once: nothing waits for the answer.
    static void Show(QWidget* owner, const QString& text, Icon icon = Icon::None);

    /// The one seam for tests: while a handler is set, each box goes to it instead of the screen.
    /// An empty handler restores the screen.
    static void SetHandler(std::function<void(const Shown&)> handler);
};
