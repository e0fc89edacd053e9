#include "ui/app_icon.h"
#include "ui/spot_relay_dlg.h"

#include <QApplication>
#include <curl/curl.h>

int main(int argc, char* argv[])
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int exitCode = 0;
    {
        // The application name stays Qt's default, the executable's base name: it names the
        // settings file and captions every message box.
        QApplication app(argc, argv);
        QApplication::setOrganizationName(QStringLiteral("tolmar"));
        QApplication::setApplicationVersion(QStringLiteral(QUARNEL_VERSION));
        QApplication::setDesktopFileName(QStringLiteral("quarnel"));
        QApplication::setWindowIcon(QuarnelIcon());

        // The program's whole life is the one modal run of the main window.
        CSpotRelayDlg dlg;
        dlg.exec();
        exitCode = 0;
    }
    curl_global_cleanup();
    return exitCode;
}
