#include "spot_relay_dlg.h"

#include "about_dlg.h"
#include "app/settings_store.h"
#include "app_icon.h"
#include "config_dlg.h"
#include "dialog_units.h"
#include "message_box.h"
#include "spot_edit.h"

#include <cstdio>
#include <exception>
#include <memory>

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPushButton>
#include <QScreen>

namespace {

constexpr int kTimerPeriodMs = 1000;

QString FromBytes(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QPushButton* AddButton(QWidget* dialog, const char* id, const QString& caption, int top)
{
    auto* button = new QPushButton(caption, dialog);
    button->setObjectName(QLatin1String(id));
    PlaceControl(button, 384, top, 50, 14);
    return button;
}

} // namespace

CSpotRelayDlg::CSpotRelayDlg(QWidget* parent)
    : QDialog(parent,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowCloseButtonHint)
    , m_relay(*this, m_pageSource, m_settings)
{
    setWindowTitle(QStringLiteral("Quarnel"));
    setWindowIcon(QuarnelIcon());
    SetDialogSize(this, 441, 77);
    CreateControls();
    m_timer.setInterval(kTimerPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { Dispatch([this] { m_relay.OnTimer(); }); });
}

CSpotRelayDlg::~CSpotRelayDlg()
{
    // A window that goes without being closed (the session ends) still keeps its settings.
    SaveSettingsOnce();
}

void CSpotRelayDlg::CreateControls()
{
    QPushButton* configure = AddButton(this, "1002", QStringLiteral("&Configure"), 31);
    connect(configure, &QPushButton::clicked, this, [this] { Dispatch([this] { OnConfigure(); }); });
    QPushButton* exit = AddButton(this, "2", QStringLiteral("&Exit"), 56);
    connect(exit, &QPushButton::clicked, this, &QDialog::reject);
    m_runButton = AddButton(this, "3", QStringLiteral("&Run"), 7);
    connect(m_runButton, &QPushButton::clicked, this, [this] { Dispatch([this] { m_relay.ToggleRun(); }); });
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
    LoadSettings(m_settings);

    const std::unique_ptr<std::FILE, decltype(&std::fclose)> countryFile(std::fopen("cty.dat", "r"),
                                                                         &std::fclose);
    if (countryFile == nullptr) {
        ShowMessage("Unable to open CTY.DAT\n Filter operation disabled");
    }

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
    dlg.m_port = m_settings.Port;
    dlg.m_bits = m_settings.Bits;
    dlg.m_parity = m_settings.Parity;
    dlg.m_speed = m_settings.Speed;
    const std::int32_t mask = m_settings.DxccFilter;
    dlg.m_eu = (mask & 1) != 0 ? 1 : 0;
    dlg.m_na = (mask & 2) != 0 ? 1 : 0;
    dlg.m_sa = (mask & 4) != 0 ? 1 : 0;
    dlg.m_af = (mask & 8) != 0 ? 1 : 0;
    dlg.m_as = (mask & 16) != 0 ? 1 : 0;
    dlg.m_oc = (mask & 32) != 0 ? 1 : 0;

    const bool wasRunning = m_relay.IsRunning();
    if (wasRunning) {
        m_relay.ToggleRun();
    }
    if (dlg.exec() == QDialog::Accepted) {
        m_settings.URL = dlg.m_url;
        m_settings.Port = dlg.m_port;
        m_settings.Speed = dlg.m_speed;
        m_settings.Bits = dlg.m_bits;
        m_settings.Parity = dlg.m_parity;
        m_settings.DxccFilter = (dlg.m_eu != 0 ? 1 : 0) | (dlg.m_na != 0 ? 2 : 0) | (dlg.m_sa != 0 ? 4 : 0)
            | (dlg.m_af != 0 ? 8 : 0) | (dlg.m_as != 0 ? 16 : 0) | (dlg.m_oc != 0 ? 32 : 0);
    }
    if (wasRunning) {
        m_relay.ToggleRun();
    }
}

void CSpotRelayDlg::OnAbout()
{
    CAboutDlg about(this);
    about.exec();
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
    // The window goes: its timer with it. The relay itself is left as it is; the serial link
    // closes when the dialog object is destroyed.
    m_timer.stop();
    QDialog::done(result);
    SaveSettingsOnce();
}

void CSpotRelayDlg::SaveSettingsOnce()
{
    if (m_initialised && !m_settingsSaved) {
        m_settingsSaved = true;
        SaveSettings(m_settings);
    }
}

void CSpotRelayDlg::ShowLog(const std::string& text, int selStart, int selEnd)
{
    m_log->ShowLog(text, selStart, selEnd);
}

void CSpotRelayDlg::SetRunCaption(const std::string& caption)
{
    m_runButton->setText(FromBytes(caption));
}

void CSpotRelayDlg::ShowMessage(const std::string& text)
{
    MessageBox::Show(this, FromBytes(text));
}

void CSpotRelayDlg::ShowError(const std::string& text)
{
    MessageBox::Show(this, FromBytes(text), MessageBox::Icon::Stop);
}

bool CSpotRelayDlg::SetTimer()
{
    m_timer.start();
    return m_timer.isActive();
}

void CSpotRelayDlg::KillTimer()
{
    m_timer.stop();
}
