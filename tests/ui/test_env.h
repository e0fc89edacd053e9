#pragma once

#include "support/temp_dir.h"
#include "ui/message_box.h"

#include <functional>

#include <QApplication>
#include <QPointer>
#include <QTimer>

namespace ui_test {

/// A private settings folder (QSettings reads XDG_CONFIG_HOME once, so one for the whole
/// program), a private current directory, and message boxes recorded and answered at once.
struct TestEnvironment
{
    TestEnvironment() { MessageBox::SetAnswerAtOnce(true); }
    [[nodiscard]] const testing_support::TempDir& work() const { return workDir; }

    testing_support::TempDir config;
    testing_support::ScopedEnv xdg {"XDG_CONFIG_HOME", config.path().string()};
    testing_support::TempDir workDir;
    testing_support::ScopedCurrentDir cwd {workDir.path()};
};

/// Runs `action` on the modal dialog of type `Dialog` once it is open (its exec() blocks the
/// test), then rejects it if it is still open. Gives up after ten seconds, leaving `*opened` false.
template <class Dialog> void WhenModal(std::function<void(Dialog*)> action, bool* opened = nullptr)
{
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, qApp, [timer, action, opened, tries = 0]() mutable {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr && ++tries < 1000) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        if (opened != nullptr) {
            *opened = dialog != nullptr;
        }
        if (const QPointer<Dialog> guard(dialog); guard != nullptr) {
            action(dialog);
            if (guard != nullptr && guard->isVisible()) {
                guard->reject();
            }
        }
    });
    timer->start(10);
}

} // namespace ui_test
