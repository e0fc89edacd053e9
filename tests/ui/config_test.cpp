#include "app/settings_store.h"
#include "support/pty_pair.h"
#include "test_env.h"
#include "ui/config_dlg.h"
#include "ui/spot_relay_dlg.h"

#include <memory>

#include <QButtonGroup>
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

RelaySettings Make(const std::string& url, const std::string& port, int speed, int bits, int parity,
                   int filter)
{
    return RelaySettings {url, port, speed, bits, parity, filter};
}

// What the dialog shows: the checked continents, the selected port, speed, bits and parity.
struct Shown
{
    QString checks;
    QString port;
    int speed = -2;
    int bits = -2;
    int parity = -2;
    bool okHasFocus = false;
};

int CheckedIndex(CConfigDlg* dlg, const QStringList& ids)
{
    for (int i = 0; i < ids.size(); ++i) {
        if (dlg->findChild<QRadioButton*>(ids[i])->isChecked()) {
            return i;
        }
    }
    return -1;
}

Shown Observe(CConfigDlg* dlg)
{
    Shown shown;
    const QStringList checks {"1010", "1011", "1012", "1014", "1015", "1016"};
    for (const QString& id : checks) {
        auto* box = dlg->findChild<QCheckBox*>(id);
        if (box->checkState() == Qt::Checked) {
            shown.checks += (shown.checks.isEmpty() ? "" : " ") + box->text();
        }
    }
    shown.port = dlg->findChild<QComboBox*>("1001")->currentText();
    shown.speed = dlg->findChild<QComboBox*>("1002")->currentIndex();
    shown.bits = CheckedIndex(dlg, {"1003", "1004"});
    shown.parity = CheckedIndex(dlg, {"1005", "1007", "1008"});
    shown.okHasFocus = dlg->focusWidget() == dlg->findChild<QWidget*>("1");
    return shown;
}

} // namespace

class ConfigTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void roundTrip_data();
    void roundTrip();
    void cancelAfterEditsChangesNothing();
    void portListShowsDevices();
    void selectString_data();
    void selectString();

private:
    std::unique_ptr<ui_test::TestEnvironment> m_env;
};

void ConfigTest::initTestCase()
{
    m_env = std::make_unique<ui_test::TestEnvironment>();
    m_env->work().write("cty.dat", "");
}

void ConfigTest::cleanup()
{
    CConfigDlg::SetPortEnumerator({});
    MessageBox::ClearRecorded();
}

void ConfigTest::roundTrip_data()
{
    QTest::addColumn<RelaySettings>("stored");
    QTest::addColumn<ComPortList>("ports");
    QTest::addColumn<bool>("pressDefault");
    QTest::addColumn<QString>("shownChecks");
    QTest::addColumn<QString>("shownPort");
    QTest::addColumn<RelaySettings>("afterOk");

    const std::string url = "http://127.0.0.1:8000/spots?";
    QTest::newRow("filter 5 shows EU and SA and is stored again")
        << Make(url, "None", 3, 1, 1, 5) << ComPortList {1} << false << "EU SA"
        << "None" << Make(url, "None", 3, 1, 1, 5);
    QTest::newRow("filter 64 shows no box and stores 0")
        << Make(url, "None", 3, 1, 1, 64) << ComPortList {1} << false << ""
        << "None" << Make(url, "None", 3, 1, 1, 0);
    QTest::newRow("all six continents")
        << Make(url, "COM1", 0, 0, 2, 63) << ComPortList {1} << false << "EU NA SA AF AS OC"
        << "COM1" << Make(url, "COM1", 0, 0, 2, 63);
    QTest::newRow("port no longer present falls back to None")
        << Make(url, "COM2", 4, 1, 0, 0) << ComPortList {1} << false << ""
        << "None" << Make(url, "None", 4, 1, 0, 0);
    QTest::newRow("prefix search selects COM10 listed before COM1")
        << Make(url, "COM1", 3, 1, 1, 0) << ComPortList {10, 1} << false << ""
        << "COM10" << Make(url, "COM10", 3, 1, 1, 0);
    QTest::newRow("port search ignores case")
        << Make(url, "com2", 3, 1, 1, 0) << ComPortList {1, 2} << false << ""
        << "COM2" << Make(url, "COM2", 3, 1, 1, 0);
    QTest::newRow("values out of range select nothing and store -1")
        << Make(url, "None", 9, 5, -1, 0) << ComPortList {} << false << ""
        << "None" << Make(url, "None", -1, -1, -1, 0);
    QTest::newRow("Default then OK stores the Default set")
        << Make(url, "COM1", 0, 0, 2, 63) << ComPortList {1, 2} << true << "EU NA SA AF AS OC"
        << "COM1" << Make(kDefaultSpotUrl, "COM2", 3, 1, 0, 0);
    QTest::newRow("Default without COM2 keeps the port selected")
        << Make(url, "COM1", 0, 0, 2, 1) << ComPortList {1} << true << "EU"
        << "COM1" << Make(kDefaultSpotUrl, "COM1", 3, 1, 0, 0);
}

void ConfigTest::roundTrip()
{
    QFETCH(RelaySettings, stored);
    QFETCH(ComPortList, ports);
    QFETCH(bool, pressDefault);
    QFETCH(QString, shownChecks);
    QFETCH(QString, shownPort);
    QFETCH(RelaySettings, afterOk);

    SaveSettings(stored);
    CConfigDlg::SetPortEnumerator([ports](ComPortList& list) { list = ports; });
    CSpotRelayDlg main;
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));

    Shown shown;
    bool opened = false;
    ui_test::WhenModal<CConfigDlg>(
        [&](CConfigDlg* dlg) {
            shown = Observe(dlg);
            if (pressDefault) {
                dlg->findChild<QPushButton*>("3")->click();
            }
            dlg->findChild<QPushButton*>("1")->click();
        },
        &opened);
    main.findChild<QPushButton*>("1002")->click();

    QVERIFY(opened);
    QCOMPARE(shown.checks, shownChecks);
    QCOMPARE(shown.port, shownPort);
    QCOMPARE(shown.speed, stored.Speed >= 0 && stored.Speed <= 4 ? stored.Speed : -1);
    QCOMPARE(shown.bits, stored.Bits == 0 || stored.Bits == 1 ? stored.Bits : -1);
    QCOMPARE(shown.parity, stored.Parity >= 0 && stored.Parity <= 2 ? stored.Parity : -1);
    QVERIFY(shown.okHasFocus);
    QCOMPARE(main.Settings(), afterOk);
    QVERIFY(!main.Relay().IsRunning());
}

void ConfigTest::cancelAfterEditsChangesNothing()
{
    const RelaySettings stored = Make("http://127.0.0.1:8000/x?", "COM1", 1, 0, 2, 9);
    SaveSettings(stored);
    CConfigDlg::SetPortEnumerator([](ComPortList& list) { list = {1, 2}; });
    CSpotRelayDlg main;
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));

    bool opened = false;
    ui_test::WhenModal<CConfigDlg>(
        [](CConfigDlg* dlg) {
            dlg->findChild<QPushButton*>("3")->click();
            dlg->findChild<QLineEdit*>("1000")->setText("http://elsewhere/");
            dlg->findChild<QCheckBox*>("1016")->setChecked(true);
            dlg->findChild<QPushButton*>("2")->click();
        },
        &opened);
    main.findChild<QPushButton*>("1002")->click();
    QVERIFY(opened);
    QCOMPARE(main.Settings(), stored);
}

void ConfigTest::portListShowsDevices()
{
    // A per-user link (here to a pty) shows its target; a plain number shows the fixed table's device.
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
    const QString ptyPath = QString::fromStdString(pty.slavePath());
    QCOMPARE(device->toolTip(), "Device: " + ptyPath);
    QCOMPARE(combo->itemData(1, Qt::ToolTipRole).toString(), ptyPath);
    combo->setCurrentIndex(2);
    QCOMPARE(device->toolTip(), QString("Device: /dev/ttyS0"));
    combo->setCurrentIndex(0);
    QCOMPARE(device->toolTip(), QString("Device: none"));
    dlg.reject();
}

void ConfigTest::selectString_data()
{
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("selected");

    const QStringList ports {"None", "COM10", "COM1", "COM2"};
    QTest::newRow("from the top, first prefix match") << ports << -1 << "COM1" << 1;
    QTest::newRow("after the start item, wrapping to the top") << ports << 0 << "no" << 0;
    QTest::newRow("start in the middle searches on, then wraps") << ports << 2 << "COM1" << 1;
    QTest::newRow("case ignored") << ports << -1 << "com2" << 3;
    QTest::newRow("no match keeps the selection") << ports << -1 << "COM3" << -1;
    QTest::newRow("empty text matches the first item searched") << ports << 0 << "" << 1;
    QTest::newRow("empty list") << QStringList {} << 0 << "COM1" << -1;
}

void ConfigTest::selectString()
{
    QFETCH(QStringList, items);
    QFETCH(int, start);
    QFETCH(QString, text);
    QFETCH(int, selected);
    QComboBox combo;
    combo.addItems(items);
    combo.setCurrentIndex(items.isEmpty() ? -1 : items.size() - 1);
    const int before = combo.currentIndex();
    QCOMPARE(SelectString(&combo, start, text), selected);
    QCOMPARE(combo.currentIndex(), selected == -1 ? before : selected);
}

QTEST_MAIN(ConfigTest)
#include "config_test.moc"
