#pragma once

#include "serial/com_ports.h"

#include <cstdint>
#include <functional>
#include <string>

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

/// Selects the first item of `combo` whose text begins with `text`, ignoring case, searching from
/// the item after `start` to the end and then from the top (from the top when `start` is -1).
/// Returns the index selected, or -1 with the selection unchanged.
int SelectString(QComboBox* combo, int start, const QString& text);

/// "Configuration panel": edits copies of the settings; the caller copies them in before exec()
/// and back out after OK.
class CConfigDlg : public QDialog
{
    Q_OBJECT

public:
    using PortEnumerator = std::function<void(ComPortList&)>;

    explicit CConfigDlg(QWidget* owner = nullptr);

    void setVisible(bool visible) override;
    void accept() override;

    /// Tests: replaces EnumerateComPorts so that the port list is known. Empty restores it.
    static void SetPortEnumerator(PortEnumerator enumerator);

    std::string m_url;
    std::int32_t m_bits = -1;
    std::int32_t m_parity = -1;
    std::int32_t m_speed = -1;
    std::string m_port;
    std::int32_t m_af = 0;
    std::int32_t m_as = 0;
    std::int32_t m_eu = 0;
    std::int32_t m_na = 0;
    std::int32_t m_oc = 0;
    std::int32_t m_sa = 0;

private:
    void CreateControls();
    void OnInitDialog();
    void DoDataExchange(bool save);
    void OnDefault();
    void ShowPortDevice();

    bool m_initialised = false;
    QString m_urlShown; ///< the URL as last written to the edit, to keep bytes it cannot show
    QLineEdit* m_urlEdit = nullptr;
    QComboBox* m_portCombo = nullptr;
    QComboBox* m_speedCombo = nullptr;
    QButtonGroup* m_bitsGroup = nullptr;
    QButtonGroup* m_parityGroup = nullptr;
    QCheckBox* m_euCheck = nullptr;
    QCheckBox* m_naCheck = nullptr;
    QCheckBox* m_saCheck = nullptr;
    QCheckBox* m_afCheck = nullptr;
    QCheckBox* m_asCheck = nullptr;
    QCheckBox* m_ocCheck = nullptr;
    QLabel* m_portDevice = nullptr;
};
