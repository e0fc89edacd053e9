#include "ui/spot_relay_dlg.h"

#include "country/country.h"
#include "settings/settings_store.h"
#include "ui/about_dlg.h"
#include "ui/app_icon.h"
#include "ui/config_dlg.h"
#include "ui/dialog_units.h"
#include "ui/message_box.h"
#include "ui/qt_text.h"
#include "ui/spot_edit.h"
#include "ui/template_controls.h"

#include <cstdio>
#include <exception>

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>

namespace {

/// A button of the column at the window's right edge.
QPushButton* AddColumnButton(QWidget* dialog, const char* id, const QString& caption, int top)
{
    return AddButton(dialog, id, caption, {384, top, 50, 14});
}

} // namespace

CSpotRelayDlg::CSpotRelayDlg(std::string settingsFile, QWidget* parent)
    : QDialog(parent,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint)
    , m_settingsFile(std::move(settingsFile))
{
    setWindowTitle(QStringLiteral("Quarnel"));
    setWindowIcon(QuarnelIcon());
    // The template's size is the smallest; a larger window gives the log the room.
    SetMinimumDialogSize(this, 441, 77);
    CreateControls();
    for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        m_templateGeometry.emplace_back(control, control->geometry());
    }
}

CSpotRelayDlg::~CSpotRelayDlg()
{
    // A window that goes without being closed (the session ends) still keeps its settings.
    SaveSettingsOnce();
}

void CSpotRelayDlg::CreateControls()
{
    QPushButton* configure = AddColumnButton(this, "1002", QStringLiteral("&Configure"), 31);
    connect(configure, &QPushButton::clicked, this, [this] { Dispatch([this] { OnConfigure(); }); });
    QPushButton* exit = AddColumnButton(this, "2", QStringLiteral("&Exit"), 56);
    connect(exit, &QPushButton::clicked, this, &QDialog::reject);
    m_runButton = AddColumnButton(this, "3", QStringLiteral("&Run"), 7);
    connect(m_runButton, &QPushButton::clicked, this, [this] { Dispatch([this] { m_relay->ToggleRun(); }); });
    // Enter works the focused button; at the start that is Configure, the first tab stop.
    configure->setDefault(true);

    m_log = new CSpotEdit(this);
    m_log->setObjectName(QStringLiteral("1001"));
    PlaceControl(m_log, 7, 7, 372, 63);

    // Linux window managers have no hook into the title-bar menu: the About item lives in the
    // window's context menu and on F1.
    m_aboutAction = new QAction(QStringLiteral("&About Quarnel..."), this);
    m_aboutAction->setObjectName(QStringLiteral("about"));
    m_aboutAction->setShortcut(QKeySequence(Qt::Key_F1));
    m_aboutAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_aboutAction, &QAction::triggered, this, [this] { Dispatch([this] { OnAbout(); }); });
}

void CSpotRelayDlg::setVisible(bool visible)
{
    // Initialise once, before the window first appears, so that the country-file warning comes
    // before the main window.
    if (visible && !m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

void CSpotRelayDlg::OnInitDialog()
{
    m_log->clear();
    addAction(m_aboutAction);
    m_log->SetExtraMenuAction(m_aboutAction);
    const std::string report = LoadSettings(m_settings, m_settingsFile);

    if (!CountryFileReadable()) {
        ShowMessage(CountryFileWarning());
    }
    if (!report.empty()) {
        LogNotice(report);
        ShowMessage(report);
    }
    m_relay->ApplySettings();

    if (const QScreen* screen = this->screen(); screen != nullptr && parentWidget() == nullptr) {
        QRect frame = geometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void CSpotRelayDlg::OnConfigure()
{
    CConfigDlg dlg(this);
    dlg.m_url = m_settings.URL;
    dlg.m_call = m_settings.Call;
    dlg.m_port = m_settings.Port;
    dlg.m_bits = m_settings.Bits;
    dlg.m_parity = m_settings.Parity;
    dlg.m_speed = m_settings.Speed;
    dlg.m_continents = ChecksOfMask(m_settings.DxccFilter);
    dlg.m_clusterPort = m_settings.ClusterPort;
    dlg.m_clusterAddress = m_settings.ClusterAddress;
    dlg.m_bands = m_settings.Bands;
    dlg.m_modes = m_settings.Modes;
    dlg.m_watchList = m_settings.WatchList;
    dlg.m_skimmerRepeat = m_settings.SkimmerRepeat;

    // A running relay stops while the dialog is open and starts again after OK and Cancel alike.
    m_relay->Suspend();
    if (dlg.exec() == QDialog::Accepted) {
        m_settings.URL = dlg.m_url;
        m_settings.Call = dlg.m_call;
        m_settings.Port = dlg.m_port;
        m_settings.Speed = dlg.m_speed;
        m_settings.Bits = dlg.m_bits;
        m_settings.Parity = dlg.m_parity;
        // Only the six continent bits survive: the mask is rebuilt from the check boxes.
        m_settings.DxccFilter = MaskOfChecks(dlg.m_continents);
        m_settings.ClusterPort = dlg.m_clusterPort;
        m_settings.ClusterAddress = dlg.m_clusterAddress;
        m_settings.Bands = dlg.m_bands;
        m_settings.Modes = dlg.m_modes;
        m_settings.WatchList = dlg.m_watchList;
        m_settings.SkimmerRepeat = dlg.m_skimmerRepeat;
        m_relay->ApplySettings();
    }
    m_relay->Resume();
}

void CSpotRelayDlg::OnAbout()
{
    CAboutDlg about(this);
    about.exec();
}

void CSpotRelayDlg::resizeEvent(QResizeEvent* event)
{
    // The buttons keep their place at the right edge, the log takes what the window gained.
    const QSize grown = size() - minimumSize();
    for (const auto& [control, rect] : m_templateGeometry) {
        control->setGeometry(control == m_log ? rect.adjusted(0, 0, grown.width(), grown.height())
                                              : rect.translated(grown.width(), 0));
    }
    QDialog::resizeEvent(event);
}

void CSpotRelayDlg::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    menu.addAction(m_aboutAction);
    menu.exec(event->globalPos());
}

void CSpotRelayDlg::Dispatch(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& error) {
        const std::string text = error.what();
        ShowError(text.empty() ? "Internal application error." : text);
    } catch (...) {
        ShowError("Internal application error.");
    }
}

void CSpotRelayDlg::done(int result)
{
    QDialog::done(result);
    SaveSettingsOnce();
}

void CSpotRelayDlg::SaveSettingsOnce()
{
    if (m_initialised && !m_settingsSaved) {
        m_settingsSaved = true;
        SaveSettings(m_settings, m_settingsFile);
    }
}

void CSpotRelayDlg::ShowLog(const std::string& text, int selStart, int selEnd)
{
    m_log->ShowLog(text, selStart, selEnd);
}

void CSpotRelayDlg::SetRunCaption(const std::string& caption)
{
    // The mnemonic stays, so Alt+R works after the first Run and Stop has one too.
    m_runButton->setText(QLatin1Char('&') + FromBytes(caption));
}

void CSpotRelayDlg::ShowMessage(const std::string& text)
{
    MessageBox::Show(this, FromBytes(text));
}

void CSpotRelayDlg::ShowError(const std::string& text)
{
    MessageBox::Show(this, FromBytes(text), MessageBox::Icon::Stop);
}

void CSpotRelayDlg::LogNotice(const std::string& text)
{
    // The window's console, for whoever started it from a terminal or reads the session's journal.
    std::fprintf(stderr, "%s\n", ConsoleLine(text).c_str());
}

void CSpotRelayDlg::ShowLinkState(const std::string& link, const std::string& state)
{
    if (state.empty()) {
        m_linkStates.erase(link);
    } else {
        m_linkStates[link] = state;
    }
    QString title = QStringLiteral("Quarnel");
    for (const auto& [name, shown] : m_linkStates) {
        title += (name == m_linkStates.begin()->first ? QStringLiteral(" - ") : QStringLiteral(", "))
            + FromBytes(name + " " + shown);
    }
    setWindowTitle(title);
}
