// The composition root: the one place that knows every part and puts them together. One road for
// every spot, whatever the front end: sources -> relay core -> outputs.
#include "cluster/cluster_node.h"
#include "country/country.h"
#include "headless/console_front_end.h"
#include "net/curl_page_source.h"
#include "net/fetch_page.h"
#include "quit_on_signal.h"
#include "relay/spot_relay.h"
#include "serial/serial_output.h"
#include "settings/app_identity.h"
#include "settings/settings_store.h"
#include "telnet/telnet_source.h"
#include "ui/app_icon.h"
#include "ui/spot_relay_dlg.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>

#include <QApplication>
#include <QCommandLineParser>

namespace {

/// The parts of the road around the relay core, wired to the front end that shows them: the page
/// source and the live source, the serial line and the cluster node.
struct Road
{
    Road(RelayFrontEnd& frontEnd, const RelaySettings& settings)
        : serial(settings)
        , node(settings)
        , relay(frontEnd, settings, pages, {&serial, &node}, &telnet)
    {
        const auto state = [&frontEnd](const QString& link, const QString& text) {
            frontEnd.ShowLinkState(link.toStdString(), text.toStdString());
        };
        const auto notice = [&frontEnd](const QString& text) { frontEnd.LogNotice(text.toStdString()); };
        QObject::connect(&serial, &SerialOutput::StateChanged, state);
        QObject::connect(&serial, &SerialOutput::Notice, notice);
        QObject::connect(&node, &ClusterNode::Notice, notice);
        QObject::connect(&telnet, &TelnetSource::StateChanged, state);
        QObject::connect(&telnet, &TelnetSource::Notice, notice);
        QObject::connect(&telnet, &TelnetSource::Problem,
                         [&frontEnd](const QString& text) { frontEnd.ShowMessage(text.toStdString()); });
    }

    CurlPageSource pages;
    TelnetSource telnet;
    SerialOutput serial;
    ClusterNode node;
    SpotRelay relay;
};

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

/// The relay without a window until SIGTERM or SIGINT: settings read, never written, started at
/// once. 0 after a signal, 2 when the relay cannot start (its message on stderr).
int RunHeadless(const std::string& settingsFile)
{
    ConsoleFrontEnd console(stdout, stderr);
    RelaySettings settings;
    if (const std::string report = LoadSettings(settings, settingsFile); !report.empty()) {
        console.LogNotice(report);
    }
    if (!CountryFileReadable()) {
        console.ShowMessage(CountryFileWarning());
    }
    const QuitOnSignal quit([] { QCoreApplication::exit(0); });
    Road road(console, settings);
    road.relay.ApplySettings();
    road.relay.ToggleRun();
    if (!road.relay.IsRunning()) {
        return 2;
    }
    QCoreApplication::exec();
    // Stop as the button would: the fetch is abandoned, the port closed with its termios restored.
    road.relay.ToggleRun();
    return 0;
}

/// The main window until it closes, or until SIGTERM or SIGINT, which close it as Exit does.
int RunWindow(const std::string& settingsFile)
{
    QGuiApplication::setDesktopFileName(QStringLiteral("quarnel"));
    QApplication::setWindowIcon(QuarnelIcon());
    CSpotRelayDlg dlg(settingsFile);
    Road road(dlg, dlg.Settings());
    dlg.Attach(road.relay);
    const QuitOnSignal quit([] { QCoreApplication::exit(0); });
    // The window's whole life is its one modal run.
    dlg.exec();
    return 0;
}

int Run(int argc, char** argv)
{
    const std::unique_ptr<QCoreApplication> app = WantsConsole(argc, argv)
        ? std::make_unique<QCoreApplication>(argc, argv)
        : std::make_unique<QApplication>(argc, argv);
    // Qt takes the C library's locale from the environment; numbers for machines must not follow
    // it (a German locale would write 14025,0).
    std::setlocale(LC_NUMERIC, "C");
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
    return parser.isSet(headless) ? RunHeadless(settingsFile) : RunWindow(settingsFile);
}

} // namespace

int main(int argc, char* argv[])
{
    const NetworkRuntime network;
    return Run(argc, argv);
}
