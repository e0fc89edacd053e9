#include "test_env.h"
#include "ui/about_dlg.h"
#include "ui/config_dlg.h"
#include "ui/dialog_units.h"
#include "ui/spot_edit.h"
#include "ui/spot_relay_dlg.h"

#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

class WindowsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_env.work().write("cty.dat", ""); }
    void dialogUnits_data();
    void dialogUnits();
    void templatesFollowTheFont_data();
    void templatesFollowTheFont();
    void mainWindowControls();
    void logView_data();
    void logView();
    void logShowsNewestEntry();
    void screenshots();

private:
    ui_test::TestEnvironment m_env;
};

void WindowsTest::dialogUnits_data()
{
    QTest::addColumn<QRect>("units");
    QTest::addColumn<int>("cx");
    QTest::addColumn<int>("cy");
    QTest::addColumn<QRect>("pixels");
    // 6 × 13 are the base units of the classic 8-point dialog font.
    QTest::newRow("Run button, classic font") << QRect(384, 7, 50, 14) << 6 << 13 << QRect(576, 11, 75, 23);
    QTest::newRow("Run button, large font") << QRect(384, 7, 50, 14) << 9 << 19 << QRect(864, 17, 113, 33);
    QTest::newRow("halves round up") << QRect(1, 4, 2, 12) << 6 << 13 << QRect(2, 7, 3, 20);
}

void WindowsTest::dialogUnits()
{
    QFETCH(QRect, units);
    QFETCH(int, cx);
    QFETCH(int, cy);
    QFETCH(QRect, pixels);
    QCOMPARE(MapDialogRect(units, DialogBaseUnits {cx, cy}), pixels);
}

void WindowsTest::templatesFollowTheFont_data()
{
    QTest::addColumn<int>("pointSize");
    QTest::newRow("9 point") << 9;
    QTest::newRow("16 point") << 16;
}

void WindowsTest::templatesFollowTheFont()
{
    QFETCH(int, pointSize);
    const QFont previous = QApplication::font();
    QFont font = previous;
    font.setPointSize(pointSize);
    QApplication::setFont(font);
    CSpotRelayDlg main;
    CConfigDlg config;
    CAboutDlg about;
    QApplication::setFont(previous);

    const DialogBaseUnits base = BaseUnitsOf(QFontMetrics(font));
    QVERIFY(base.cx > pointSize / 2 && base.cy > pointSize);
    const auto expect = [&base](const QRect& units) { return MapDialogRect(units, base); };
    QCOMPARE(main.size(), expect({0, 0, 441, 77}).size());
    QCOMPARE(main.minimumSize(), main.maximumSize());
    QCOMPARE(main.findChild<QWidget*>("3")->geometry(), expect({384, 7, 50, 14}));
    QCOMPARE(main.findChild<QWidget*>("1001")->geometry(), expect({7, 7, 372, 63}));
    QCOMPARE(config.size(), expect({0, 0, 251, 125}).size());
    QCOMPARE(config.findChild<QWidget*>("1016")->geometry(), expect({215, 105, 27, 8}));
    QCOMPARE(about.findChild<QWidget*>("1")->geometry(), expect({178, 7, 32, 14}));
}

void WindowsTest::mainWindowControls()
{
    CSpotRelayDlg dlg;
    QCOMPARE(dlg.windowTitle(), QString("Quarnel"));
    QVERIFY(!dlg.windowIcon().isNull());
    // Captions with their mnemonics, in the template's tab order.
    const QStringList order {"1002", "2", "3", "1001"};
    const QStringList captions {"&Configure", "&Exit", "&Run"};
    for (int i = 0; i < captions.size(); ++i) {
        QCOMPARE(dlg.findChild<QPushButton*>(order[i])->text(), captions[i]);
        QCOMPARE(dlg.findChild<QWidget*>(order[i])->nextInFocusChain()->objectName(), order[i + 1]);
    }
    const QFontInfo logFont(dlg.findChild<CSpotEdit*>("1001")->font());
    QVERIFY(logFont.fixedPitch());
    QCOMPARE(logFont.pixelSize(), 14);
    CAboutDlg about;
    QCOMPARE(about.findChild<QLabel*>("version")->text(), QString("Quarnel Version 1.0"));
    QVERIFY(!about.findChild<QLabel*>("icon")->pixmap().isNull());
}

void WindowsTest::logView_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("selStart");
    QTest::addColumn<int>("selEnd");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("viewStart");
    QTest::addColumn<int>("viewEnd");
    // The relay selects the CR of the final CR LF: the line break after the newest entry.
    QTest::newRow("selection on the last line break")
        << QByteArray("A1\r\nB2\r\n") << 6 << 7 << QString("A1\nB2\n") << 5 << 6;
    QTest::newRow("invalid page entry is followed by an empty line")
        << QByteArray("Received unvalid page\r\n\r\n") << 23 << 24 << QString("Received unvalid page\n\n")
        << 22 << 23;
    QTest::newRow("UTF-8 decoded, offsets counted in bytes")
        << QByteArray("\xc3\xa9t\xc3\xa9\r\n") << 5 << 6 << QString::fromUtf8("\xc3\xa9t\xc3\xa9\n") << 3
        << 4;
    QTest::newRow("invalid UTF-8 shows the replacement character")
        << QByteArray("a\xff\r\n") << 2 << 3 << QString("a\xef\xbf\xbd\n") << 2 << 3;
    QTest::newRow("offsets outside the text are clipped")
        << QByteArray("ab\r\n") << -5 << 99 << QString("ab\n") << 0 << 3;
}

void WindowsTest::logView()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, selStart);
    QFETCH(int, selEnd);
    const LogView view = ToLogView(bytes.toStdString(), selStart, selEnd);
    QTEST(view.text, "text");
    QTEST(view.selStart, "viewStart");
    QTEST(view.selEnd, "viewEnd");
}

void WindowsTest::logShowsNewestEntry()
{
    CSpotEdit edit;
    edit.resize(300, 120);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    std::string log;
    for (int i = 0; i < 99; ++i) {
        log += "DX de N0CALL:     14025.0  N1CALL      CQ " + std::to_string(i)
            + " and a long tail 1234Z\r\n";
        edit.ShowLog(log, static_cast<int>(log.size()) - 2, static_cast<int>(log.size()) - 1);
    }
    QCOMPARE(edit.document()->blockCount(), 100);
    QVERIFY(edit.viewport()->rect().contains(edit.cursorRect()));
    QCOMPARE(edit.textCursor().selectedText(), QString(QChar::ParagraphSeparator));
    QVERIFY(edit.textCursor().block().text().contains("CQ 98 "));
}

namespace {

void Save(QWidget& window, const char* name)
{
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPixmap picture = window.grab();
    QVERIFY(!picture.isNull());
    if (const QByteArray dir = qgetenv("QUARNEL_SCREENSHOT_DIR"); !dir.isEmpty()) {
        QVERIFY(picture.save(QString::fromLocal8Bit(dir) + "/" + name));
    }
}

} // namespace

void WindowsTest::screenshots()
{
    CSpotRelayDlg main;
    main.show();
    const std::string log = "DX de DL1ABC:     14025.0  JA1XYZ      CQ UP 2                        0912Z\r\n"
                            "Received unvalid page\r\n\r\n"
                            "DX de K1TTT:       7003.5  VK9XX       TNX QSO                        0913Z\r\n"
                            "DX de F5NQL:      21074.0  PY2AA       FT8 -12dB                      0915Z\r\n";
    main.ShowLog(log, static_cast<int>(log.size()) - 2, static_cast<int>(log.size()) - 1);
    Save(main, "main.png");

    CConfigDlg::SetPortEnumerator([](ComPortList& ports) { ports = {1, 2}; });
    CConfigDlg config(&main);
    config.m_url = "http://www.dxsummit.fi/dxs/dx25.html?";
    config.m_port = "COM1";
    config.m_speed = 3;
    config.m_bits = 1;
    config.m_parity = 0;
    config.m_eu = 1;
    config.show();
    Save(config, "config.png");
    CConfigDlg::SetPortEnumerator({});

    CAboutDlg about(&main);
    about.show();
    Save(about, "about.png");
}

QTEST_MAIN(WindowsTest)
#include "windows_test.moc"
