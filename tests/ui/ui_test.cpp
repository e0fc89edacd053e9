#include "cluster/cluster_node.h"
#include "serial/serial_output.h"
#include "settings/settings_store.h"
#include "support/fake_front_end.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"
#include "ui/message_box.h"
#include "ui/spot_relay_dlg.h"

#include <filesystem>
#include <functional>
#include <string>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>

using S = RelaySettings;
Q_DECLARE_METATYPE(RelaySettings)

// The main window and its dialogs on the offscreen platform: settings, port links and cty.dat in
// temporary folders, the pages from a fake source, the message boxes recorded instead of shown.
class UiTest : public QObject
{
    Q_OBJECT

    testing_support::TempDir m_config, m_work; // m_work holds cty.dat
    testing_support::ScopedEnv m_xdg {"XDG_CONFIG_HOME", m_config.path().string()};
    testing_support::PtyPair m_com1, m_com2; // linked as COM1 and COM2: the port list starts alike everywhere
    QStringList m_boxes; // the message boxes, "late: " when the main window was already on the screen

    static QPushButton* Button(const QWidget& w, const char* id) { return w.findChild<QPushButton*>(id); }
    // Once a menu or a modal dialog is open (its exec() blocks the test), runs `act` on it, then closes it.
    static void WhenOpen(const std::function<void(QWidget&)>& act)
    {
        QTimer::singleShot(0, [act] {
            QWidget* open = QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                              : QApplication::activeModalWidget();
            QVERIFY(open);
            act(*open);
            open->close();
        });
    }

private slots:
    void initTestCase()
    {
        m_com1.linkAsComPort(1);
        m_com2.linkAsComPort(2);
        m_work.write("cty.dat", "");
        MessageBox::SetHandler([this](auto& b) { m_boxes << (b.ownerVisible ? "late: " : "") + b.text; });
    }
    void init() { m_boxes.clear(); }

    void window_data()
    {
        QTest::addColumn<bool>("countryFile");
        QTest::addColumn<S>("stored");
        // Run on the main window, then the buttons of the configuration dialog
        QTest::addColumn<QString>("clicks");
        QTest::addColumn<S>("after");
        QTest::addColumn<int>("close"); // by 0 Exit, 1 the close box, 2 Esc in the log
        const std::string d = kDefaultSpotUrl;
        QTest::newRow("no cty.dat: one warning, before the window; com2, mask 69: COM2, EU, SA; OK; Exit")
            << false << S {"u", "com2", 3, 1, 1, 69} << "OK" << S {"u", "COM2", 3, 1, 1, 5} << 0;
        QTest::newRow("empty port: the search starts after None; mask 64: no box, OK stores 0; Esc")
            << true << S {"u", "", 0, 0, 2, 64} << "OK" << S {"u", "COM1", 0, 0, 2, 0} << 2;
        QTest::newRow("port absent, speed 9: the port kept, marked absent; no speed, stored by OK; close box")
            << true << S {"u", "COM200", 9, 1, 0, 0} << "OK" << S {"u", "COM200", -1, 1, 0, 0} << 1;
        QTest::newRow("running: About keeps it running; Default, Cancel: all kept, restarted; Esc")
            << true << S {"", "COM1", 1, 0, 2, 9} << "Run Default Cancel" << S {"", "COM1", 1, 0, 2, 9} << 2;
        QTest::newRow("running: Default, OK: restarted with the Default set; close box")
            << true << S {"u", "COM1", 0, 1, 1, 63} << "Run Default OK" << S {d, "COM2", 3, 1, 0, 0} << 1;
        QTest::newRow("filters: 20 m, CW, a watch list, skimmer repeats; OK, OK: kept; Exit")
            << true << S {"u", "None", 3, 1, 1, 0, 0, "127.0.0.1", "", 8, 5} << "Filters OK"
            << S {"u", "None", 3, 1, 1, 0, 0, "127.0.0.1", "", 32, 1, "3y0j vp8*", 10} << 0;
        QTest::newRow(
            "cluster node: address and port changed together, both kept; the call upper-cased; Exit")
            << true << S {"u", "None", 3, 1, 1, 0, 0, "0.0.0.0"} << "Cluster OK"
            << S {"u", "None", 3, 1, 1, 0, 0, "127.0.0.1", "DL1ABC"} << 0;
    }

    void window()
    {
        QFETCH(bool, countryFile);
        QFETCH(QString, clicks);
        const bool running = clicks.startsWith("Run");
        const testing_support::ScopedCurrentDir cwd(countryFile ? m_work.path() : m_config.path());
        QFETCH(S, stored);
        stored.ClusterPort = 0; // no node but on a port free now: the tests run side by side
        SaveSettings(stored);
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        const int freePort = probe.serverPort();
        probe.close();
        testing_support::FakePageSource pages;
        pages.Serve({"<PRE>\nN0CALL     14025.0 N1CALL     CQ UP 2                       1234Z\n</PRE>"});
        CSpotRelayDlg main;
        SerialOutput serial(main.Settings());
        ClusterNode node(main.Settings());
        SpotRelay relay(main, main.Settings(), pages, {&serial, &node});
        main.Attach(relay);
        main.show();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        // The log takes what the window gains, its cell is 14 pixels high, and Enter in it opens nothing.
        auto* log = main.findChild<QPlainTextEdit*>("1001");
        const QSize logSize = log->size();
        main.resize(main.size() + QSize(100, 50));
        bool opened = false;
        QTimer::singleShot(0, [&opened] {
            opened = QApplication::activeModalWidget() && QApplication::activeModalWidget()->close();
        });
        QTest::keyClick(log, Qt::Key_Return);
        QTest::qWait(20);
        QCOMPARE(std::pair(log->size(), opened), std::pair(logSize + QSize(100, 50), false));
        QVERIFY(QFontMetrics(log->font()).height() <= 14 && QFontMetrics(log->font()).height() >= 12);
        if (running) {
            Button(main, "3")->click();
            WhenOpen([&](QWidget& about) { // the first tick comes while it is open
                QTRY_COMPARE(main.findChild<QPlainTextEdit*>("1001")->toPlainText().left(5), "DX de");
                QCOMPARE(about.windowTitle(), "About Quarnel");
            });
            QTest::keyClick(&main, Qt::Key_F1);
        }
        WhenOpen([&](QWidget& dlg) {
            QCOMPARE(dlg.focusWidget(), Button(dlg, "1"));
            const QString device = dlg.findChild<QLabel*>("portDevice")->toolTip();
            QCOMPARE(device.endsWith("(absent)"), stored.Port == "COM200");
            QCOMPARE(Button(main, "3")->text(), "&Run"); // a running relay is stopped, Alt+R stays
            for (const QString& click : clicks.split(' ').mid(running ? 1 : 0)) {
                if (click == "Filters") {
                    WhenOpen([](QWidget& filters) {
                        QVERIFY(filters.findChild<QCheckBox*>("band8")->isChecked());
                        filters.findChild<QCheckBox*>("band8")->setChecked(false);
                        filters.findChild<QCheckBox*>("band32")->setChecked(true);
                        filters.findChild<QCheckBox*>("mode4")->setChecked(false);
                        filters.findChild<QLineEdit*>("watchList")->setText(" 3y0j vp8* ");
                        filters.findChild<QSpinBox*>("skimmerRepeat")->setValue(10);
                        Button(filters, "1")->click();
                    });
                }
                if (click == "Cluster") {
                    dlg.findChild<QLineEdit*>("clusterAddress")->setText("127.0.0.1");
                    dlg.findChild<QSpinBox*>("clusterPort")->setValue(freePort);
                    dlg.findChild<QLineEdit*>("call")->setText(" dl1abc ");
                    continue;
                }
                Button(dlg,
                       click == "OK"            ? "1"
                           : click == "Cancel"  ? "2"
                           : click == "Filters" ? "filters"
                                                : "3")
                    ->click();
            }
        });
        Button(main, "1002")->click();
        QCOMPARE(Button(main, "3")->text(), running ? "&Stop" : "&Run"); // and started again

        // The log's own context menu (the menu key on it) holds the About item of F1.
        WhenOpen([&](QWidget& menu) { QVERIFY(menu.actions().contains(main.findChild<QAction*>("about"))); });
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, {5, 5}, {5, 5});
        QApplication::sendEvent(main.findChild<QWidget*>("1001"), &menuKey);
        std::filesystem::remove(DefaultSettingsFile());
        QFETCH(int, close);
        const std::function<void()> closeBy[]
            = {[&] { Button(main, "2")->click(); }, [&] { main.close(); },
               [&] { QTest::keyClick(main.findChild<QWidget*>("1001"), Qt::Key_Escape); }};
        closeBy[close]();
        LoadSettings(stored); // what closing saved
        QFETCH(S, after);
        after.ClusterPort = clicks.contains("Cluster") ? freePort : 0;
        QCOMPARE(stored, after);
        const QString warning = "Unable to open CTY.DAT\n Filter operation disabled\nLooked for cty.dat in ";
        QCOMPARE(m_boxes.join(""), countryFile ? "" : warning + QString::fromStdString(m_config.path()));
    }
};

QTEST_MAIN(UiTest)
#include "ui_test.moc"
