#pragma once

#include <functional>
#include <vector>

#include <QString>

class QWidget;

/// The program's modal boxes: owned by a window, the application name as caption, an OK button.
/// Tests switch on answering at once: each box is then recorded instead of waiting for a click.
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

    /// Shows the box and returns when it is answered.
    static void Show(QWidget* owner, const QString& text, Icon icon = Icon::None);

    /// Tests: when on, boxes are recorded and answered at once without blocking.
    static void SetAnswerAtOnce(bool on);
    /// Tests: runs while a recorded box is "open", as the user's reaction time would allow.
    static void SetWhileOpen(std::function<void()> action);
    [[nodiscard]] static const std::vector<Shown>& Recorded();
    static void ClearRecorded();
};
