#pragma once

#include "support/temp_dir.h"
#include "ui/message_box.h"

#include <functional>
#include <memory>

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>

namespace ui_test {

/// A private settings folder for the whole test program (QSettings reads XDG_CONFIG_HOME once),
/// a private current directory, and message boxes answered at once.
class TestEnvironment
{
public:
    TestEnvironment()
        : m_xdg("XDG_CONFIG_HOME", m_config.path().string())
        , m_cwd(m_work.path())
    {
        MessageBox::SetAnswerAtOnce(true);
    }

    [[nodiscard]] const testing_support::TempDir& work() const { return m_work; }

private:
    testing_support::TempDir m_config;
    testing_support::ScopedEnv m_xdg;
    testing_support::TempDir m_work;
    testing_support::ScopedCurrentDir m_cwd;
};

/// Runs `action` on the modal dialog of type `Dialog` as soon as it is open; used to answer a
/// dialog whose exec() would otherwise block the test. A dialog that does not turn up within ten
/// seconds leaves `*opened` false; one that is still open after `action` is rejected.
template <class Dialog> void WhenModal(std::function<void(Dialog*)> action, bool* opened = nullptr)
{
    if (opened != nullptr) {
        *opened = false;
    }
    auto* timer = new QTimer(qApp);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, qApp, [timer, tries, action, opened] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            if (++*tries > 1000) {
                timer->deleteLater();
                timer->stop();
            }
            return;
        }
        timer->stop();
        timer->deleteLater();
        if (opened != nullptr) {
            *opened = true;
        }
        const QPointer<Dialog> guard(dialog);
        action(dialog);
        if (guard != nullptr && guard->isVisible()) {
            guard->reject();
        }
    });
    timer->start(10);
}

} // namespace ui_test
