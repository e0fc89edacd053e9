// The composition root: the one place that knows every part and puts them together.
#include "headless/console_front_end.h"
#include "relay/curl_page_source.h"
#include "settings/app_identity.h"
#include "ui/app_icon.h"
#include "ui/spot_relay_dlg.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <QApplication>
#include <QCommandLineParser>
#include <curl/curl.h>

namespace {

/// Options that need no display: they must work on a board without one, so no window system is
/// touched when one of them is given.
bool WantsConsole(int argc, char** argv)
{
    return std::any_of(argv + 1, argv + argc, [](const char* arg) {
        for (const char* option : {"--headless", "-h", "--help", "--help-all", "-v", "--version"}) {
            if (std::strcmp(arg, option) == 0) {
                return true;
            }
        }
        return false;
    });
}

int Run(int argc, char** argv)
{
    const std::unique_ptr<QCoreApplication> app = WantsConsole(argc, argv)
        ? std::make_unique<QCoreApplication>(argc, argv)
        : std::make_unique<QApplication>(argc, argv);
    // The application name names the settings file and captions every message box.
    QCoreApplication::setApplicationName(QString::fromStdString(ApplicationName()));
    QCoreApplication::setOrganizationName(QString::fromLatin1(kOrganizationName));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUARNEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Relays web DX spots to a serial line as DX-cluster lines."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("Run without a window, at once, until SIGTERM or SIGINT."));
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("Read the settings from <file> instead of the usual one."),
                                    QStringLiteral("file"));
    parser.addOptions({headless, config});
    parser.process(*app);
    const std::string settingsFile
        = parser.isSet(config) ? parser.value(config).toStdString() : DefaultSettingsFile();

    if (parser.isSet(headless)) {
        return RunHeadless(settingsFile);
    }
    QGuiApplication::setDesktopFileName(QStringLiteral("quarnel"));
    QApplication::setWindowIcon(QuarnelIcon());
    // The window's whole life is its one modal run.
    CurlPageSource pages;
    CSpotRelayDlg dlg(pages, settingsFile);
    dlg.exec();
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int status = Run(argc, argv);
    curl_global_cleanup();
    return status;
}
