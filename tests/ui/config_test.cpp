#include "app/settings_store.h"
#include "support/pty_pair.h"
#include "test_env.h"
#include "ui/config_dlg.h"
#include "ui/spot_relay_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

Q_DECLARE_METATYPE(RelaySettings)
Q_DECLARE_METATYPE(ComPortList)

namespace {

RelaySettings Make(const std::string& port, int speed, int bits, int parity, int filter,
                   const std::string& url = "http://127.0.0.1:8000/spots?")
{
    return RelaySettings {url, port, speed, bits, parity, filter};
}

// The dialog as the user sees it: "EU SA|COM1|speed bits parity", -1 where nothing is selected.
QString Shown(CConfigDlg* dlg)
{
    QStringList checks;
    for (const char* id : {"1010", "1011", "1012", "1014", "1015", "1016"}) {
        if (auto* box = dlg->findChild<QCheckBox*>(id); box->checkState() == Qt::Checked) {
            checks << box->text();
        }
    }
    const auto checkedIndex = [dlg](const QStringList& ids) {
        for (int i = 0; i < ids.size(); ++i) {
            if (dlg->findChild<QRadioButton*>(ids[i])->isChecked()) {
                return i;
            }
        }
        return -1;
    };
    return QString("%1|%2|%3 %4 %5")
        .arg(checks.join(' '), dlg->findChild<QComboBox*>("1001")->currentText())
        .arg(dlg->findChild<QComboBox*>("1002")->currentIndex())
        .arg(checkedIndex({"1003", "1004"}))
        .arg(checkedIndex({"1005", "1007", "1008"}));
}

} // namespace

class ConfigTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_env.work().write("cty.dat", ""); }
    void cleanup() { CConfigDlg::SetPortEnumerator({}); }
    void roundTrip_data();
    void roundTrip();
    void portListShowsDevices();

private:
    ui_test::TestEnvironment m_env;
};

void ConfigTest::roundTrip_data()
{
    QTest::addColumn<RelaySettings>("stored");
    QTest::addColumn<ComPortList>("ports");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<RelaySettings>("after");

    QTest::newRow("filter 5 shows EU and SA and OK stores 5")
        << Make("None", 3, 1, 1, 5) << ComPortList {1} << "ok"
        << "EU SA|None|3 1 1" << Make("None", 3, 1, 1, 5);
    QTest::newRow("filter 64 shows no box and OK stores 0")
        << Make("None", 3, 1, 1, 64) << ComPortList {1} << "ok"
        << "|None|3 1 1" << Make("None", 3, 1, 1, 0);
    QTest::newRow("all six continents, other choices")
        << Make("COM1", 0, 0, 2, 63) << ComPortList {1} << "ok"
        << "EU NA SA AF AS OC|COM1|0 0 2" << Make("COM1", 0, 0, 2, 63);
    QTest::newRow("port no longer present falls back to None")
        << Make("COM2", 4, 1, 0, 0) << ComPortList {1} << "ok"
        << "|None|4 1 0" << Make("None", 4, 1, 0, 0);
    QTest::newRow("prefix search selects COM10 listed before COM1")
        << Make("COM1", 3, 1, 1, 0) << ComPortList {10, 1} << "ok"
        << "|COM10|3 1 1" << Make("COM10", 3, 1, 1, 0);
    QTest::newRow("port search ignores case") << Make("com2", 3, 1, 1, 0) << ComPortList {1, 2} << "ok"
                                              << "|COM2|3 1 1" << Make("COM2", 3, 1, 1, 0);
    QTest::newRow("values out of range select nothing and OK stores -1")
        << Make("None", 9, 5, -1, 0) << ComPortList {} << "ok"
        << "|None|-1 -1 -1" << Make("None", -1, -1, -1, 0);
    QTest::newRow("Default then OK stores the Default set")
        << Make("COM1", 0, 0, 2, 63) << ComPortList {1, 2} << "default"
        << "EU NA SA AF AS OC|COM1|0 0 2" << Make("COM2", 3, 1, 0, 0, kDefaultSpotUrl);
    QTest::newRow("Default without COM2 keeps the port selected")
        << Make("COM1", 0, 0, 2, 1) << ComPortList {1} << "default"
        << "EU|COM1|0 0 2" << Make("COM1", 3, 1, 0, 0, kDefaultSpotUrl);
    QTest::newRow("Cancel after edits changes nothing")
        << Make("COM1", 1, 0, 2, 9) << ComPortList {1, 2} << "cancel"
        << "EU AF|COM1|1 0 2" << Make("COM1", 1, 0, 2, 9);
}

void ConfigTest::roundTrip()
{
    QFETCH(RelaySettings, stored);
    QFETCH(ComPortList, ports);
    QFETCH(QString, action);
    SaveSettings(stored);
    CConfigDlg::SetPortEnumerator([ports](ComPortList& list) { list = ports; });
    CSpotRelayDlg main;
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));

    QString shown;
    bool okHasFocus = false;
    bool opened = false;
    ui_test::WhenModal<CConfigDlg>(
        [&](CConfigDlg* dlg) {
            shown = Shown(dlg);
            okHasFocus = dlg->focusWidget() == dlg->findChild<QWidget*>("1");
            if (action != "ok") {
                dlg->findChild<QPushButton*>("3")->click();
            }
            if (action == "cancel") {
                dlg->findChild<QLineEdit*>("1000")->setText("http://elsewhere/");
                dlg->findChild<QCheckBox*>("1016")->setChecked(true);
            }
            dlg->findChild<QPushButton*>(action == "cancel" ? "2" : "1")->click();
        },
        &opened);
    main.findChild<QPushButton*>("1002")->click();

    QVERIFY(opened);
    QTEST(shown, "shown");
    QVERIFY(okHasFocus);
    QTEST(main.Settings(), "after");
    QVERIFY(!main.Relay().IsRunning());
}

void ConfigTest::portListShowsDevices()
{
    // A per-user link (here to a pty) shows its target; other ports the fixed table's device.
    testing_support::PtyPair pty;
    pty.linkAsComPort(5);
    CConfigDlg::SetPortEnumerator([](ComPortList& list) { list = {5, 1}; });
    CConfigDlg dlg;
    dlg.m_port = "COM5";
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    auto* combo = dlg.findChild<QComboBox*>("1001");
    auto* device = dlg.findChild<QLabel*>("portDevice");
    QCOMPARE(combo->currentText(), QString("COM5"));
    QCOMPARE(device->toolTip(), "Device: " + QString::fromStdString(pty.slavePath()));
    combo->setCurrentIndex(2);
    QCOMPARE(device->toolTip(), QString("Device: /dev/ttyS0"));
    combo->setCurrentIndex(0);
    QCOMPARE(device->toolTip(), QString("Device: none"));
}

QTEST_MAIN(ConfigTest)
#include "config_test.moc"
