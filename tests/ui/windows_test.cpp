#include "test_env.h"
#include "ui/dialog_units.h"

#include <QFontInfo>
#include <QTextBlock>

class WindowsTest : public QObject
{
    Q_OBJECT

private slots:
    void dialogUnits_data()
    {
        QTest::addColumn<QRect>("units");
        QTest::addColumn<QSize>("base");
        QTest::addColumn<QRect>("pixels");
        // 6 x 13 are the base units of the classic 8-point dialog font.
        QTest::newRow("Run button, classic font")
            << QRect(384, 7, 50, 14) << QSize(6, 13) << QRect(576, 11, 75, 23);
        QTest::newRow("Run button, large font")
            << QRect(384, 7, 50, 14) << QSize(9, 19) << QRect(864, 17, 113, 33);
        QTest::newRow("halves round up") << QRect(1, 4, 2, 12) << QSize(6, 13) << QRect(2, 7, 3, 20);
    }

    void dialogUnits()
    {
        QFETCH(QRect, units);
        QFETCH(QSize, base);
        QTEST(MapDialogRect(units, DialogBaseUnits {base.width(), base.height()}), "pixels");
    }

    void templatesFollowTheFont()
    {
        const QFont previous = QApplication::font();
        QFont font = previous;
        font.setPointSize(16);
        QApplication::setFont(font);
        const CSpotRelayDlg main;
        const CConfigDlg config;
        const CAboutDlg about;
        QApplication::setFont(previous);

        const DialogBaseUnits base = BaseUnitsOf(QFontMetrics(font));
        QVERIFY(base.cx > 8 && base.cy > 16);
        const auto expect = [&base](const QRect& units) { return MapDialogRect(units, base); };
        QCOMPARE(main.size(), expect({0, 0, 441, 77}).size());
        QCOMPARE(main.minimumSize(), main.maximumSize());
        QCOMPARE(main.findChild<QWidget*>("3")->geometry(), expect({384, 7, 50, 14}));
        QCOMPARE(main.findChild<QWidget*>("1001")->geometry(), expect({7, 7, 372, 63}));
        QCOMPARE(config.size(), expect({0, 0, 251, 125}).size());
        QCOMPARE(config.findChild<QWidget*>("1016")->geometry(), expect({215, 105, 27, 8}));
        QCOMPARE(about.findChild<QWidget*>("1")->geometry(), expect({178, 7, 32, 14}));
    }

    void logView_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("selStart");
        QTest::addColumn<int>("selEnd");
        QTest::addColumn<QString>("shown"); // the selection in brackets
        // The relay selects the CR of the final CR LF: the line break after the newest entry.
        QTest::newRow("CR LF is one line break") << QByteArray("A1\r\nB2\r\n") << 6 << 7 << "A1\nB2[\n]";
        QTest::newRow("invalid page entry is followed by an empty line")
            << QByteArray("Received unvalid page\r\n\r\n") << 23 << 24 << "Received unvalid page\n[\n]";
        QTest::newRow("UTF-8 decoded, offsets in bytes")
            << QByteArray("\xc3\xa9t\xc3\xa9\r\n") << 5 << 6 << "\xc3\xa9t\xc3\xa9[\n]";
        QTest::newRow("invalid UTF-8 shows U+FFFD")
            << QByteArray("a\xff\r\n") << 2 << 3 << "a\xef\xbf\xbd[\n]";
        QTest::newRow("offsets outside the text are clipped") << QByteArray("ab\r\n") << -5 << 99 << "[ab\n]";
    }

    void logView()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, selStart);
        QFETCH(int, selEnd);
        const LogView view = ToLogView(bytes.toStdString(), selStart, selEnd);
        QTEST(QString(view.text).insert(view.selEnd, ']').insert(view.selStart, '['), "shown");
    }

    void mainWindowAndScreenshots()
    {
        const QByteArray dir = qgetenv("QUARNEL_SCREENSHOT_DIR");
        const auto shoot = [&dir](QWidget& window, const char* name) {
            QVERIFY(ui_test::ShowAndWait(window));
            const QPixmap picture = window.grab();
            QVERIFY(!picture.isNull());
            QVERIFY(dir.isEmpty() || picture.save(QString::fromLocal8Bit(dir) + "/" + name));
        };
        const auto showLog = [](CSpotRelayDlg& main, const std::string& log) {
            main.ShowLog(log, static_cast<int>(log.size()) - 2, static_cast<int>(log.size()) - 1);
        };
        SaveSettings({"http://www.dxsummit.fi/dxs/dx25.html?", "COM1", 3, 1, 0, 1});
        CSpotRelayDlg main;
        QVERIFY(ui_test::ShowAndWait(main));
        QCOMPARE(main.windowTitle(), QString("Quarnel"));
        QVERIFY(!main.windowIcon().isNull());
        // Captions with their mnemonics, in the template's tab order.
        const QStringList order {"1002", "2", "3", "1001"};
        const QStringList captions {"&Configure", "&Exit", "&Run"};
        for (int i = 0; i < captions.size(); ++i) {
            QCOMPARE(ui_test::Button(main, order[i])->text(), captions[i]);
            QCOMPARE(main.findChild<QWidget*>(order[i])->nextInFocusChain()->objectName(), order[i + 1]);
        }
        const auto* edit = main.findChild<CSpotEdit*>("1001");
        const QFontInfo logFont(edit->font());
        QVERIFY(logFont.fixedPitch());
        QCOMPARE(logFont.pixelSize(), 14);
        std::string log;
        for (int i = 0; i < 99; ++i) {
            log += "DX de N0CALL:     14025.0  N1CALL      CQ " + std::to_string(i)
                + " and a long tail 1234Z\r\n";
            showLog(main, log);
        }
        QVERIFY(edit->viewport()->rect().contains(edit->cursorRect()));
        QCOMPARE(edit->textCursor().selectedText(), QString(QChar::ParagraphSeparator));
        QVERIFY(edit->textCursor().block().text().contains("CQ 98 "));

        showLog(main,
                "DX de DL1ABC:     14025.0  JA1XYZ      CQ UP 2                        0912Z\r\n"
                "Received unvalid page\r\n\r\n"
                "DX de K1TTT:       7003.5  VK9XX       TNX QSO                        0913Z\r\n"
                "DX de F5NQL:      21074.0  PY2AA       FT8 -12dB                      0915Z\r\n");
        shoot(main, "main.png");
        CConfigDlg::SetPortEnumerator([](ComPortList& ports) { ports = {1, 2}; });
        ui_test::WhenModal<CConfigDlg>([&shoot](CConfigDlg* config) { shoot(*config, "config.png"); });
        ui_test::Button(main, "1002")->click();
        CAboutDlg about(&main);
        QCOMPARE(about.findChild<QLabel*>("version")->text(), QString("Quarnel Version 1.0"));
        QVERIFY(!about.findChild<QLabel*>("icon")->pixmap().isNull());
        shoot(about, "about.png");
    }

private:
    ui_test::TestEnvironment m_env;
};

QTEST_MAIN(WindowsTest)
#include "windows_test.moc"
