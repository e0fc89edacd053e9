#pragma once

#include "relay/relay_front_end.h"
#include "relay/spot_relay.h"
#include "settings/app_identity.h"
#include "settings/relay_settings.h"

#include <functional>
#include <map>
#include <utility>
#include <vector>

#include <QDialog>

class CSpotEdit;
class QAction;
class QPushButton;

/// The main window: the spot log, Run/Stop, Configure and Exit. It owns the settings, loads them
/// when it first shows and saves them when it closes, and forwards its buttons to the relay core,
/// which draws through the RelayFrontEnd interface.
class CSpotRelayDlg : public QDialog, public RelayFrontEnd
{
    Q_OBJECT

public:
    /// The window keeps its settings in `settingsFile`.
    explicit CSpotRelayDlg(std::string settingsFile = DefaultSettingsFile(), QWidget* parent = nullptr);
    ~CSpotRelayDlg() override;

    /// The relay the buttons work; it must be attached before the window shows, and outlive it.
    void Attach(SpotRelay& relay) { m_relay = &relay; }

    void setVisible(bool visible) override;
    void done(int result) override;

    void ShowLog(const std::string& text, int selStart, int selEnd) override;
    void SetRunCaption(const std::string& caption) override;
    void ShowMessage(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void ShowLinkState(const std::string& link, const std::string& state) override;
    void LogNotice(const std::string& text) override;

    [[nodiscard]] const RelaySettings& Settings() const { return m_settings; }

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
    SpotRelay* m_relay = nullptr;
    std::map<std::string, std::string> m_linkStates; ///< the links that do not work, shown in the title
    bool m_initialised = false;
    bool m_settingsSaved = false;
    CSpotEdit* m_log = nullptr;
    QPushButton* m_runButton = nullptr;
    std::vector<std::pair<QWidget*, QRect>> m_templateGeometry; ///< at the template's size
    QAction* m_aboutAction = nullptr;
};
