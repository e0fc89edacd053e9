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

// The worked example of the page format and the cluster line made of it.
const std::string kSpotLine = "N0CALL     14025.0 N1CALL     CQ UP 2" + std::string(23, ' ') + "1234Z";
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
    void initTestCase() { m_server.serve("/spots", "<PRE>\n" + kSpotLine + "\n</PRE>"); }
    void init();
    void cleanup() { CConfigDlg::SetPortEnumerator({}); }
    void countryFileWarning_data();
    void countryFileWarning();
    void closeSavesSettingsOnce_data();
    void closeSavesSettingsOnce();
    void configure_data();
    void configure();
    void aboutWhileRunning();
    void aboutFromContextMenu_data();
    void aboutFromContextMenu();

private:
    ui_test::TestEnvironment m_env;
    testing_support::HttpServer m_server;
    std::unique_ptr<testing_support::PtyPair> m_pty;
};

void MainWindowTest::init()
{
    m_env.work().write("cty.dat", "");
    m_pty = std::make_unique<testing_support::PtyPair>();
    m_pty->linkAsComPort(6);
    CConfigDlg::SetPortEnumerator([](ComPortList& list) { list = {6, 77}; });
    // A pty answers EINVAL when a reopen asks again for odd parity at the speed it already has
    // (it keeps PARODD but drops PARENB); parity none keeps the restarts about the window.
    SaveSettings({m_server.url("/spots"), "COM6", 3, 1, 0, 0});
    MessageBox::ClearRecorded();
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
        std::filesystem::remove(m_env.work().path() / "cty.dat");
    }
    CSpotRelayDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.hide();
    dlg.show(); // showing again is no second initialisation

    const auto& boxes = MessageBox::Recorded();
    QCOMPARE(boxes.size(), present ? 0u : 1u);
    if (!present) {
        QCOMPARE(boxes[0].text, QString("Unable to open CTY.DAT\n Filter operation disabled"));
        QCOMPARE(boxes[0].caption, QCoreApplication::applicationName());
        QCOMPARE(boxes[0].icon, MessageBox::Icon::None);
        QVERIFY(!boxes[0].ownerVisible);
    }
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
    const RelaySettings mine {"http://127.0.0.1:9/mine?", "None", 3, 1, 2, 0};
    const RelaySettings other {"http://127.0.0.1:9/other?", "None", 3, 1, 1, 0};
    SaveSettings(mine);
    auto dlg = std::make_unique<CSpotRelayDlg>();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    SaveSettings(other); // another instance writes meanwhile; the one closing writes last

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

void MainWindowTest::configure_data()
{
    QTest::addColumn<bool>("running");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("speed");
    QTest::addColumn<bool>("runsAfter");
    QTest::newRow("running, Cancel restarts") << true << "cancel" << 3 << true;
    QTest::newRow("running, OK restarts with the new speed") << true << "speed" << 1 << true;
    QTest::newRow("running, OK with a port that cannot open stays stopped")
        << true << "badport" << 3 << false;
    QTest::newRow("stopped, OK starts nothing") << false << "speed" << 1 << false;
    QTest::newRow("stopped, Cancel starts nothing") << false << "cancel" << 3 << false;
}

void MainWindowTest::configure()
{
    QFETCH(bool, running);
    QFETCH(QString, answer);
    QFETCH(bool, runsAfter);
    CSpotRelayDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    if (running) {
        Button(dlg, "3")->click();
        QVERIFY(dlg.Relay().SerialPort().IsOpen());
    }

    bool stoppedWhileOpen = false;
    ui_test::WhenModal<CConfigDlg>([&](CConfigDlg* config) {
        stoppedWhileOpen = !dlg.Relay().IsRunning() && !dlg.Relay().SerialPort().IsOpen();
        if (answer == "speed") {
            config->findChild<QComboBox*>("1002")->setCurrentIndex(1);
        } else if (answer == "badport") {
            config->findChild<QComboBox*>("1001")->setCurrentText("COM77"); // listed, but no device
        }
        Button(*config, answer == "cancel" ? "2" : "1")->click();
    });
    Button(dlg, "1002")->click();

    QVERIFY(stoppedWhileOpen);
    QTEST(dlg.Settings().Speed, "speed");
    QCOMPARE(dlg.Relay().IsRunning(), runsAfter);
    QCOMPARE(dlg.Relay().SerialPort().IsOpen(), runsAfter);
    QCOMPARE(Button(dlg, "3")->text(), QString(runsAfter ? "Stop" : (running ? "Run" : "&Run")));
    const auto& boxes = MessageBox::Recorded();
    QCOMPARE(boxes.size(), answer == "badport" ? 1u : 0u);
    if (answer == "badport") {
        QCOMPARE(boxes[0].text, QString("Error opening serial communication"));
    }
}

void MainWindowTest::aboutWhileRunning()
{
    CSpotRelayDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Button(dlg, "3")->click();

    // F1 opens the About box before the first tick; the relay goes on behind it.
    bool relayedWhileOpen = false;
    std::string received;
    ui_test::WhenModal<CAboutDlg>([&](CAboutDlg* about) {
        relayedWhileOpen = QTest::qWaitFor([&] { return dlg.Relay().HistoryCount() == 1; }, 5000);
        received = m_pty->read(kClusterLine.size() + 2);
        Button(*about, "1")->click();
    });
    QTest::keyClick(&dlg, Qt::Key_F1);

    QVERIFY(relayedWhileOpen);
    QCOMPARE(received, kClusterLine + "\r\n");
    QVERIFY(dlg.Relay().IsRunning());
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

    bool aboutOpened = false;
    ui_test::WhenModal<CAboutDlg>([](CAboutDlg* about) { Button(*about, "1")->click(); }, &aboutOpened);
    QTimer::singleShot(100, this, [] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions()) {
                if (action->text() == "&About Quarnel...") {
                    action->trigger();
                }
            }
            menu->close();
        }
    });
    QWidget* widget = dlg.findChild<QWidget*>(target);
    if (auto* log = qobject_cast<CSpotEdit*>(widget)) {
        widget = log->viewport();
    }
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), widget->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(widget, &event);
    QTRY_VERIFY(aboutOpened);
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
