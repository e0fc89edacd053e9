#include "app/settings_store.h"
#include "support/http_server.h"
#include "support/pty_pair.h"
#include "test_env.h"
#include "ui/about_dlg.h"
#include "ui/config_dlg.h"
#include "ui/spot_edit.h"
#include "ui/spot_relay_dlg.h"

#include <memory>

#include <QComboBox>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

namespace {

const char* const kCountryWarning = "Unable to open CTY.DAT\n Filter operation disabled";
// The worked example of the page format: spotter, frequency, DX call, comment and time by column.
const std::string kSpotLine = "N0CALL" + std::string(5, ' ') + "14025.0 N1CALL" + std::string(5, ' ')
    + "CQ UP 2" + std::string(23, ' ') + "1234Z";
const std::string kClusterLine
    = "DX de N0CALL:     14025.0  N1CALL      CQ UP 2" + std::string(24, ' ') + "1234Z";

QPushButton* Button(QWidget& dlg, const char* id)
{
    return dlg.findChild<QPushButton*>(id);
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void countryFileWarning_data();
    void countryFileWarning();
    void closeSavesSettingsOnce_data();
    void closeSavesSettingsOnce();
    void configureWhileRunning_data();
    void configureWhileRunning();
    void configureWhileStopped_data();
    void configureWhileStopped();
    void aboutWhileRunning();
    void aboutFromContextMenu_data();
    void aboutFromContextMenu();

private:
    /// A relay set up to run: a spot page on a local server, COM6 linked to a pty.
    RelaySettings RunnableSettings() const;

    std::unique_ptr<ui_test::TestEnvironment> m_env;
    std::unique_ptr<testing_support::HttpServer> m_server;
    std::unique_ptr<testing_support::PtyPair> m_pty;
};

void MainWindowTest::initTestCase()
{
    m_env = std::make_unique<ui_test::TestEnvironment>();
    m_server = std::make_unique<testing_support::HttpServer>();
    m_server->serve("/spots", "<HTML><PRE>\n" + kSpotLine + "\n</PRE></HTML>");
}

void MainWindowTest::init()
{
    m_env->work().write("cty.dat", "");
    m_pty = std::make_unique<testing_support::PtyPair>();
    m_pty->linkAsComPort(6);
    CConfigDlg::SetPortEnumerator([](ComPortList& list) { list = {6, 77}; });
    SaveSettings(RelaySettings {});
    MessageBox::ClearRecorded();
}

void MainWindowTest::cleanup()
{
    CConfigDlg::SetPortEnumerator({});
    MessageBox::SetWhileOpen({});
    m_pty.reset();
}

RelaySettings MainWindowTest::RunnableSettings() const
{
    RelaySettings settings;
    settings.URL = m_server->url("/spots");
    settings.Port = "COM6";
    // A pty answers EINVAL when a reopen asks again for odd parity at the speed it already has
    // (it keeps PARODD but drops PARENB); parity none keeps the restart tests about the window.
    settings.Parity = 0;
    return settings;
}

void MainWindowTest::countryFileWarning_data()
{
    QTest::addColumn<bool>("present");
    QTest::newRow("cty.dat missing: one warning before the window") << false;
    QTest::newRow("cty.dat present: no warning") << true;
}

void MainWindowTest::countryFileWarning()
{
    QFETCH(bool, present);
    if (!present) {
        std::filesystem::remove(m_env->work().path() / "cty.dat");
    }
    CSpotRelayDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.hide();
    dlg.show(); // a second showing is no second initialisation

    const auto& boxes = MessageBox::Recorded();
    QCOMPARE(boxes.size(), present ? 0u : 1u);
    if (!present) {
        QCOMPARE(boxes[0].text, QString(kCountryWarning));
        QCOMPARE(boxes[0].caption, QCoreApplication::applicationName());
        QCOMPARE(boxes[0].icon, MessageBox::Icon::None);
        QVERIFY(!boxes[0].ownerVisible);
    }
    QVERIFY(dlg.isVisible());
    QVERIFY(!dlg.Relay().IsRunning());
}

void MainWindowTest::closeSavesSettingsOnce_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Exit button") << "exit";
    QTest::newRow("Esc on the log") << "escape";
    QTest::newRow("close box") << "close";
    QTest::newRow("OK command") << "ok";
}

void MainWindowTest::closeSavesSettingsOnce()
{
    QFETCH(QString, how);
    RelaySettings mine;
    mine.URL = "http://127.0.0.1:9/mine?";
    mine.Parity = 2;
    RelaySettings other;
    other.URL = "http://127.0.0.1:9/other?";
    SaveSettings(mine);

    auto dlg = std::make_unique<CSpotRelayDlg>();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    QCOMPARE(dlg->Settings(), mine);
    SaveSettings(other); // another instance writes meanwhile; closing this one writes last

    if (how == "exit") {
        Button(*dlg, "2")->click();
    } else if (how == "escape") {
        auto* log = dlg->findChild<CSpotEdit*>("1001");
        log->setFocus();
        QTest::keyClick(log, Qt::Key_Escape);
    } else if (how == "close") {
        QVERIFY(dlg->close());
    } else {
        dlg->accept();
    }
    QVERIFY(!dlg->isVisible());
    RelaySettings loaded;
    LoadSettings(loaded);
    QCOMPARE(loaded, mine);

    // Once: neither a second close nor the destruction writes again.
    SaveSettings(other);
    dlg->reject();
    dlg.reset();
    LoadSettings(loaded);
    QCOMPARE(loaded, other);
}

void MainWindowTest::configureWhileRunning_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("speed");
    QTest::addColumn<bool>("runsAfter");

    QTest::newRow("Cancel restarts with the same settings") << "cancel" << 3 << true;
    QTest::newRow("OK restarts with the new speed") << "speed" << 1 << true;
    QTest::newRow("OK with a port that cannot open stays stopped") << "badport" << 3 << false;
}

void MainWindowTest::configureWhileRunning()
{
    QFETCH(QString, answer);
    QFETCH(int, speed);
    QFETCH(bool, runsAfter);
    SaveSettings(RunnableSettings());
    CSpotRelayDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Button(dlg, "3")->click();
    QVERIFY(dlg.Relay().IsRunning());
    QVERIFY(dlg.Relay().SerialPort().IsOpen());
    QCOMPARE(Button(dlg, "3")->text(), QString("Stop"));

    bool stoppedWhileOpen = false;
    bool opened = false;
    ui_test::WhenModal<CConfigDlg>(
        [&](CConfigDlg* config) {
            stoppedWhileOpen = !dlg.Relay().IsRunning() && !dlg.Relay().SerialPort().IsOpen()
                && Button(dlg, "3")->text() == "Run";
            if (answer == "cancel") {
                Button(*config, "2")->click();
                return;
            }
            if (answer == "speed") {
                config->findChild<QComboBox*>("1002")->setCurrentIndex(1);
            } else {
                config->findChild<QComboBox*>("1001")->setCurrentText("COM77");
            }
            Button(*config, "1")->click();
        },
        &opened);
    Button(dlg, "1002")->click();

    QVERIFY(opened);
    QVERIFY(stoppedWhileOpen);
    QCOMPARE(dlg.Settings().Speed, speed);
    QCOMPARE(dlg.Relay().IsRunning(), runsAfter);
    QCOMPARE(dlg.Relay().SerialPort().IsOpen(), runsAfter);
    QCOMPARE(Button(dlg, "3")->text(), QString(runsAfter ? "Stop" : "Run"));
    const auto& boxes = MessageBox::Recorded();
    if (runsAfter) {
        QVERIFY(boxes.empty());
    } else {
        QCOMPARE(boxes.size(), 1u);
        QCOMPARE(boxes[0].text, QString("Error opening serial communication"));
        QVERIFY(boxes[0].ownerVisible);
    }
}

void MainWindowTest::configureWhileStopped_data()
{
    QTest::addColumn<bool>("ok");
    QTest::newRow("OK starts nothing") << true;
    QTest::newRow("Cancel starts nothing") << false;
}

void MainWindowTest::configureWhileStopped()
{
    QFETCH(bool, ok);
    SaveSettings(RunnableSettings());
    CSpotRelayDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    ui_test::WhenModal<CConfigDlg>([ok](CConfigDlg* config) { Button(*config, ok ? "1" : "2")->click(); });
    Button(dlg, "1002")->click();
    QVERIFY(!dlg.Relay().IsRunning());
    QVERIFY(!dlg.Relay().SerialPort().IsOpen());
    QCOMPARE(Button(dlg, "3")->text(), QString("&Run"));
    QTest::qWait(1200); // a tick would have come by now
    QCOMPARE(dlg.Relay().HistoryCount(), 0);
}

void MainWindowTest::aboutWhileRunning()
{
    SaveSettings(RunnableSettings());
    CSpotRelayDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Button(dlg, "3")->click();
    QVERIFY(dlg.Relay().IsRunning());

    // F1 opens the About box before the first tick; the relay must go on relaying behind it.
    bool opened = false;
    bool relayedWhileOpen = false;
    std::string received;
    ui_test::WhenModal<CAboutDlg>(
        [&](CAboutDlg* about) {
            relayedWhileOpen = QTest::qWaitFor([&] { return dlg.Relay().HistoryCount() == 1; }, 5000);
            received = m_pty->read(kClusterLine.size() + 2);
            Button(*about, "1")->click();
        },
        &opened);
    QTest::keyClick(&dlg, Qt::Key_F1);

    QVERIFY(opened);
    QVERIFY(relayedWhileOpen);
    QCOMPARE(received, kClusterLine + "\r\n");
    QVERIFY(dlg.Relay().IsRunning());
    QCOMPARE(Button(dlg, "3")->text(), QString("Stop"));
    QVERIFY(MessageBox::Recorded().empty());
}

void MainWindowTest::aboutFromContextMenu_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("right click on the log") << "1001";
    QTest::newRow("right click on a button") << "3";
}

void MainWindowTest::aboutFromContextMenu()
{
    QFETCH(QString, target);
    CSpotRelayDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    bool menuHadItem = false;
    bool aboutOpened = false;
    ui_test::WhenModal<CAboutDlg>([](CAboutDlg* about) { Button(*about, "1")->click(); }, &aboutOpened);
    QTimer::singleShot(100, this, [&menuHadItem] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) {
            return;
        }
        for (QAction* action : menu->actions()) {
            if (action->text() == "&About Quarnel...") {
                menuHadItem = true;
                menu->close();
                action->trigger();
                return;
            }
        }
        menu->close();
    });

    QWidget* widget = dlg.findChild<QWidget*>(target);
    if (auto* log = qobject_cast<CSpotEdit*>(widget)) {
        widget = log->viewport();
    }
    const QPoint pos(5, 5);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, widget->mapToGlobal(pos));
    QApplication::sendEvent(widget, &event);

    QVERIFY(menuHadItem);
    QTRY_VERIFY(aboutOpened);
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
