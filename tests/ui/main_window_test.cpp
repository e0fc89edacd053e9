#include "support/http_server.h"
#include "test_env.h"

#include <memory>

// The worked example of the page format and the cluster line made of it.
const std::string kSpotLine = "N0CALL     14025.0 N1CALL     CQ UP 2" + std::string(23, ' ') + "1234Z";
const std::string kClusterLine
    = "DX de N0CALL:     14025.0  N1CALL      CQ UP 2" + std::string(24, ' ') + "1234Z";

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_server.serve("/spots", "<PRE>\n" + kSpotLine + "\n</PRE>"); }

    void init()
    {
        m_env.work.write("cty.dat", "");
        m_pty = std::make_unique<testing_support::PtyPair>();
        m_pty->linkAsComPort(6);
        SaveSettings({m_server.url("/spots"), "COM6", 3, 1, 0, 0});
        MessageBox::ClearRecorded();
    }

    void closeSavesSettingsOnce_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("countryFile");
        QTest::newRow("Exit button; no cty.dat: one warning, before the window shows") << "exit" << false;
        QTest::newRow("Esc on the log; cty.dat present: no warning") << "escape" << true;
        QTest::newRow("close box") << "close" << true;
        QTest::newRow("OK command") << "ok" << true;
    }

    void closeSavesSettingsOnce()
    {
        QFETCH(QString, how);
        QFETCH(bool, countryFile);
        if (!countryFile) {
            std::filesystem::remove(m_env.countryFile);
        }
        const RelaySettings mine {"http://127.0.0.1:9/mine?", "None", 3, 1, 2, 0};
        const RelaySettings other {"http://127.0.0.1:9/other?", "None", 3, 1, 1, 0};
        const auto stored = [] {
            RelaySettings s;
            LoadSettings(s);
            return s;
        };
        SaveSettings(mine);
        auto dlg = std::make_unique<CSpotRelayDlg>();
        QVERIFY(ui_test::ShowAndWait(*dlg));
        dlg->hide();
        dlg->show(); // showing again is no second initialisation
        SaveSettings(other); // another instance writes meanwhile; the one closing writes last

        const auto& boxes = MessageBox::Recorded();
        QCOMPARE(boxes.size(), countryFile ? 0u : 1u);
        if (!countryFile) {
            QCOMPARE(boxes[0].text, QString("Unable to open CTY.DAT\n Filter operation disabled"));
            QCOMPARE(boxes[0].icon, MessageBox::Icon::None);
            QVERIFY(!boxes[0].ownerVisible);
        }
        if (how == "exit") {
            ui_test::Button(*dlg, "2")->click();
        } else if (how == "escape") {
            QTest::keyClick(dlg->findChild<CSpotEdit*>("1001"), Qt::Key_Escape);
        } else if (how == "close") {
            QVERIFY(dlg->close());
        } else {
            dlg->accept();
        }
        QVERIFY(!dlg->isVisible());
        QCOMPARE(stored(), mine);
        SaveSettings(other); // neither a second close nor the destruction writes again
        dlg->reject();
        dlg.reset();
        QCOMPARE(stored(), other);
    }

    void aboutWhileRunning_data()
    {
        QTest::addColumn<QString>("from");
        QTest::newRow("F1") << "F1";
        QTest::newRow("context menu of the log") << "1001";
        QTest::newRow("context menu of a button") << "3";
    }

    void aboutWhileRunning()
    {
        QFETCH(QString, from);
        CSpotRelayDlg dlg;
        QVERIFY(ui_test::ShowAndWait(dlg));
        ui_test::Button(dlg, "3")->click();

        // The About box opens before the first tick; the relay goes on behind it.
        std::string received;
        ui_test::WhenModal<CAboutDlg>([&](CAboutDlg* about) {
            if (QTest::qWaitFor([&] { return dlg.Relay().HistoryCount() == 1; }, 5000)) {
                received = m_pty->read(kClusterLine.size() + 2);
            }
            ui_test::Button(*about, "1")->click();
        });
        if (from == "F1") {
            QTest::keyClick(&dlg, Qt::Key_F1);
        } else {
            QTimer::singleShot(100, this, [] {
                QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_A); // the item's mnemonic
                if (QWidget* menu = QApplication::activePopupWidget()) {
                    menu->close();
                }
            });
            QWidget* widget = dlg.findChild<QWidget*>(from);
            QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(5, 5),
                                    widget->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(widget, &event);
        }
        QCOMPARE(received, kClusterLine + "\r\n");
        QVERIFY(dlg.Relay().IsRunning());
        QVERIFY(MessageBox::Recorded().empty());
    }

private:
    ui_test::TestEnvironment m_env;
    testing_support::HttpServer m_server;
    std::unique_ptr<testing_support::PtyPair> m_pty;
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
