// The composition root: the one place that knows every part and puts them together.
#include "relay/curl_page_source.h"
#include "settings/app_identity.h"
#include "ui/app_icon.h"
#include "ui/spot_relay_dlg.h"

#include <QApplication>
#include <curl/curl.h>

int main(int argc, char* argv[])
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    {
        QApplication app(argc, argv);
        // The application name names the settings file and captions every message box.
        QApplication::setApplicationName(QString::fromStdString(ApplicationName()));
        QApplication::setOrganizationName(QString::fromLatin1(kOrganizationName));
        QApplication::setApplicationVersion(QStringLiteral(QUARNEL_VERSION));
        QApplication::setDesktopFileName(QStringLiteral("quarnel"));
        QApplication::setWindowIcon(QuarnelIcon());

        // The program's whole life is the one modal run of the main window.
        CurlPageSource pages;
        CSpotRelayDlg dlg(pages);
        dlg.exec();
    }
    curl_global_cleanup();
    return 0;
}
