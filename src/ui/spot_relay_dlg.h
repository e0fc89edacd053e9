#pragma once

#include "relay/relay_window.h"
#include "relay/spot_relay.h"
#include "settings/app_identity.h"
#include "settings/relay_settings.h"

#include <functional>
#include <utility>
#include <vector>

#include <QDialog>
#include <QTimer>

class CSpotEdit;
class QAction;
class QPushButton;

/// The main window: the spot log, Run/Stop, Configure and Exit. It owns the settings and the relay
/// core and forwards its button and timer events to the relay; the relay draws through the
/// RelayWindow interface.
class CSpotRelayDlg : public QDialog, public RelayWindow
{
    Q_OBJECT

public:
    /// The window takes its pages from `source`, which must outlive it, and keeps its settings in
    /// `settingsFile`.
    explicit CSpotRelayDlg(PageSource& source, std::string settingsFile = DefaultSettingsFile(),
                           QWidget* parent = nullptr);
    ~CSpotRelayDlg() override;

    void setVisible(bool visible) override;
    void done(int result) override;

    void ShowLog(const std::string& text, int selStart, int selEnd) override;
    void SetRunCaption(const std::string& caption) override;
    void ShowMessage(const std::string& text) override;
    void ShowError(const std::string& text) override;
    bool SetTimer() override;
    void KillTimer() override;
    void ShowLinkState(const std::string& port, bool lost) override;
    void LogNotice(const std::string& text) override;

    [[nodiscard]] const RelaySettings& Settings() const { return m_settings; }
    [[nodiscard]] const SpotRelay& Relay() const { return m_relay; }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateControls();
    void OnInitDialog();
    void OnConfigure();
    void OnAbout();
    /// Runs a handler; an error escaping it is shown in the error box, as the framework does.
    void Dispatch(const std::function<void()>& handler);
    void SaveSettingsOnce();

    std::string m_settingsFile;
    RelaySettings m_settings;
    SpotRelay m_relay;
    QTimer m_timer;
    bool m_initialised = false;
    bool m_settingsSaved = false;
    CSpotEdit* m_log = nullptr;
    QPushButton* m_runButton = nullptr;
    std::vector<std::pair<QWidget*, QRect>> m_templateGeometry; ///< at the template's size
    QAction* m_aboutAction = nullptr;
};
