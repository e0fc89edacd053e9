#include "support/http_server.h"
#include "test_env.h"

Q_DECLARE_METATYPE(RelaySettings)
Q_DECLARE_METATYPE(ComPortList)

// What the dialog shows: "checked radios and boxes|port|speed|device of the port".
static QString Shown(const QWidget& dlg)
{
    QStringList checked;
    for (const QAbstractButton* button : dlg.findChildren<QAbstractButton*>()) {
        if (button->isChecked()) {
            checked << button->text();
        }
    }
    return QStringList {checked.join(' '), dlg.findChild<QComboBox*>("1001")->currentText(),
                        dlg.findChild<QComboBox*>("1002")->currentText(),
                        dlg.findChild<QLabel*>("portDevice")->toolTip()}
        .join('|');
}

/// Configure on the main window: what the dialog shows, what OK, Default and Cancel store, and the
/// relay stopped while the dialog is open and restarted after it.
class ConfigTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_server.serve("/spots", "<PRE>\n</PRE>");
        m_pty.linkAsComPort(6);
    }

    void init() { MessageBox::ClearRecorded(); }

    void configure_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<RelaySettings>("stored");
        QTest::addColumn<ComPortList>("ports");
        QTest::addColumn<QString>("steps"); // choices made in the dialog, then the closing button
        QTest::addColumn<QString>("shown"); // before the closing button
        QTest::addColumn<RelaySettings>("after");
        QTest::addColumn<QString>("caption"); // of Run afterwards
        using S = RelaySettings;
        const std::string u = m_server.url("/spots");
        const auto row
            = [](const char* name, const S& stored, const ComPortList& ports, const char* steps,
                 const char* shown, const S& after, bool running = false, const char* caption = "&Run") {
                  QTest::newRow(name) << running << stored << ports << steps << shown << after << caption;
              };
        row("filter 5 shows EU and SA, OK stores 5", {u, "None", 3, 1, 1, 5}, {1}, "OK",
            "8 Odd EU SA|None|9600|Device: none", {u, "None", 3, 1, 1, 5});
        row("filter 64 shows no box, OK stores 0", {u, "None", 3, 1, 1, 64}, {1}, "OK",
            "8 Odd|None|9600|Device: none", {u, "None", 3, 1, 1, 0});
        row("all six continents, the other choices", {u, "COM1", 0, 0, 2, 63}, {1}, "OK",
            "7 Even EU NA SA AF AS OC|COM1|1200|Device: /dev/ttyS0", {u, "COM1", 0, 0, 2, 63});
        row("COM2 no longer present selects None, OK stores None", {u, "COM2", 4, 1, 0, 0}, {1}, "OK",
            "8 None|None|19200|Device: none", {u, "None", 4, 1, 0, 0});
        row("COM1 with COM10 listed first selects COM10", {u, "COM1", 3, 1, 1, 0}, {10, 1}, "OK",
            "8 Odd|COM10|9600|Device: /dev/ttyS9", {u, "COM10", 3, 1, 1, 0});
        row("empty port name: the search starts after None", {u, "", 3, 1, 1, 0}, {1}, "OK",
            "8 Odd|COM1|9600|Device: /dev/ttyS0", {u, "COM1", 3, 1, 1, 0});
        row("port search ignores case", {u, "com2", 3, 1, 1, 0}, {1, 2}, "OK",
            "8 Odd|COM2|9600|Device: /dev/ttyS1", {u, "COM2", 3, 1, 1, 0});
        row("out-of-range choices select nothing, OK stores -1", {u, "None", 9, 5, -1, 0}, {}, "OK",
            "|None||Device: none", {u, "None", -1, -1, -1, 0});
        row("Default then OK stores the Default set", {u, "COM1", 0, 0, 2, 63}, {1, 2}, "Default OK",
            "8 None|COM2|9600|Device: /dev/ttyS1", {kDefaultSpotUrl, "COM2", 3, 1, 0, 0});
        row("Default without COM2 keeps the port", {u, "COM1", 0, 0, 2, 1}, {1}, "Default OK",
            "8 None|COM1|9600|Device: /dev/ttyS0", {kDefaultSpotUrl, "COM1", 3, 1, 0, 0});
        row("Cancel after Default changes nothing", {u, "COM1", 1, 0, 2, 9}, {1, 2}, "Default Cancel",
            "8 None|COM2|9600|Device: /dev/ttyS1", {u, "COM1", 1, 0, 2, 9});
        row("a port linked to a pty shows its device; stopped, OK starts nothing", {u, "COM6", 3, 1, 0, 0},
            {6, 1}, "OK", "8 None|COM6|9600|Device: PTY", {u, "COM6", 3, 1, 0, 0});
        row("running, Cancel restarts", {u, "COM6", 3, 1, 0, 0}, {6, 77}, "Cancel",
            "8 None|COM6|9600|Device: PTY", {u, "COM6", 3, 1, 0, 0}, true, "Stop");
        row("running, OK restarts with the new speed", {u, "COM6", 3, 1, 0, 0}, {6, 77}, "2400 OK",
            "8 None|COM6|2400|Device: PTY", {u, "COM6", 1, 1, 0, 0}, true, "Stop");
        row("running, a port that cannot open: error box, stays stopped", {u, "COM6", 3, 1, 0, 0}, {6, 77},
            "COM77 OK", "8 None|COM77|9600|Device: /dev/ttyACM12", {u, "COM77", 3, 1, 0, 0}, true, "Run");
    }

    void configure()
    {
        QFETCH(bool, running);
        QFETCH(RelaySettings, stored);
        QFETCH(ComPortList, ports);
        QFETCH(QString, steps);
        QFETCH(QString, shown);
        QFETCH(QString, caption);
        SaveSettings(stored);
        CConfigDlg::SetPortEnumerator([ports](ComPortList& list) { list = ports; });
        CSpotRelayDlg main;
        QVERIFY(ui_test::ShowAndWait(main));
        if (running) {
            ui_test::Button(main, "3")->click();
        }

        QString seen;
        bool okHasFocus = false;
        bool stoppedWhileOpen = false;
        ui_test::WhenModal<CConfigDlg>([&](CConfigDlg* dlg) {
            okHasFocus = dlg->focusWidget() == ui_test::Button(*dlg, "1");
            stoppedWhileOpen = !main.Relay().IsRunning() && !main.Relay().SerialPort().IsOpen();
            for (const QString& step : steps.split(' ')) {
                seen = Shown(*dlg);
                if (step.startsWith("COM") || step[0].isDigit()) {
                    dlg->findChild<QComboBox*>(step.startsWith("COM") ? "1001" : "1002")
                        ->setCurrentText(step);
                } else {
                    ui_test::Button(*dlg, step == "OK" ? "1" : (step == "Cancel" ? "2" : "3"))->click();
                }
            }
        });
        ui_test::Button(main, "1002")->click();

        QCOMPARE(seen, shown.replace("PTY", QString::fromStdString(m_pty.slavePath())));
        QVERIFY(okHasFocus);
        QVERIFY(stoppedWhileOpen);
        QTEST(main.Settings(), "after");
        QTEST(ui_test::Button(main, "3")->text(), "caption");
        QCOMPARE(main.Relay().IsRunning(), caption == "Stop");
        QCOMPARE(main.Relay().SerialPort().IsOpen(), caption == "Stop");
        QCOMPARE(MessageBox::Recorded().size(), caption == "Run" ? 1u : 0u); // "Run": the restart failed
        for (const MessageBox::Shown& box : MessageBox::Recorded()) {
            QCOMPARE(box.text, QString("Error opening serial communication"));
        }
    }

private:
    ui_test::TestEnvironment m_env;
    testing_support::HttpServer m_server;
    testing_support::PtyPair m_pty;
};

QTEST_MAIN(ConfigTest)
#include "config_test.moc"
