#include "message_box.h"

#include <utility>

#include <QCoreApplication>
#include <QMessageBox>
#include <QWidget>

namespace {

struct TestHook
{
    bool answerAtOnce = false;
    std::function<void()> whileOpen;
    std::vector<MessageBox::Shown> recorded;
};

TestHook& Hook()
{
    static TestHook hook;
    return hook;
}

} // namespace

void MessageBox::Show(QWidget* owner, const QString& text, Icon icon)
{
    const QString caption = QCoreApplication::applicationName();
    if (TestHook& hook = Hook(); hook.answerAtOnce) {
        hook.recorded.push_back({text, caption, icon, owner != nullptr && owner->isVisible()});
        if (hook.whileOpen) {
            hook.whileOpen();
        }
        return;
    }
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setTextFormat(Qt::PlainText); // error texts come from outside and may hold '<'
    box.setText(text);
    box.setIcon(icon == Icon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

void MessageBox::SetAnswerAtOnce(bool on)
{
    Hook().answerAtOnce = on;
}

void MessageBox::SetWhileOpen(std::function<void()> action)
{
    Hook().whileOpen = std::move(action);
}

const std::vector<MessageBox::Shown>& MessageBox::Recorded()
{
    return Hook().recorded;
}

void MessageBox::ClearRecorded()
{
    Hook().recorded.clear();
}
