#pragma once

#include "app/settings_store.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"
#include "ui/about_dlg.h"
#include "ui/config_dlg.h"
#include "ui/message_box.h"
#include "ui/spot_edit.h"
#include "ui/spot_relay_dlg.h"

#include <functional>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace ui_test {

/// A private settings folder (QSettings reads XDG_CONFIG_HOME once, so one for the whole program),
/// a private current directory holding an empty cty.dat, and message boxes recorded, not shown.
struct TestEnvironment
{
    TestEnvironment() { MessageBox::SetAnswerAtOnce(true); }

    testing_support::TempDir config;
    testing_support::ScopedEnv xdg {"XDG_CONFIG_HOME", config.path().string()};
    testing_support::TempDir work;
    testing_support::ScopedCurrentDir cwd {work.path()};
    const std::filesystem::path countryFile = work.write("cty.dat", "");
};

inline bool ShowAndWait(QWidget& window)
{
    window.show();
    return QTest::qWaitForWindowExposed(&window);
}

inline QPushButton* Button(const QWidget& window, const QString& id)
{
    return window.findChild<QPushButton*>(id);
}

/// Runs `action` on the modal `Dialog` once it is open (its exec() blocks the test), then rejects
/// it if it is still open. Gives up after about ten seconds without calling `action`.
template <class Dialog> void WhenModal(std::function<void(Dialog*)> action, int tries = 1000)
{
    QTimer::singleShot(10, qApp, [action, tries] {
        const QPointer<Dialog> dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr && tries > 0) {
            WhenModal(action, tries - 1);
        } else if (dialog != nullptr) {
            action(dialog);
        }
        if (dialog != nullptr && dialog->isVisible()) {
            dialog->reject();
        }
    });
}

} // namespace ui_test
