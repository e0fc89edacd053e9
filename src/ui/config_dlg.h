#pragma once

#include "country/country.h"

#include <cstdint>
#include <string>

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

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
    explicit CConfigDlg(QWidget* owner = nullptr);

    void setVisible(bool visible) override;
    void accept() override;

    std::string m_url;
    std::string m_call;
    std::int32_t m_bits = -1;
    std::int32_t m_parity = -1;
    std::int32_t m_speed = -1;
    std::string m_port;
    ContinentChecks m_continents {}; ///< the filter's check boxes, in the order of kContinents
    std::int32_t m_clusterPort = 0;
    std::string m_clusterAddress;
    std::int32_t m_bands = 0; ///< the filters, edited in their own dialog
    std::int32_t m_modes = 0;
    std::string m_watchList;
    std::int32_t m_skimmerRepeat = 0;

private:
    void CreateControls();
    void OnInitDialog();
    void DoDataExchange(bool save);
    void OnDefault();
    void OnFilters();
    void ShowPortDevice();
    /// Keeps a stored "COM<n>" that no present port matches in the list, selected. False when the
    /// stored text names no port.
    bool KeepAbsentPort();

    bool m_initialised = false;
    QString m_urlShown; ///< the URL as last written to the edit, to keep bytes it cannot show
    QLineEdit* m_urlEdit = nullptr; ///< the edit of the URL box, whose list offers the known sources
    QLineEdit* m_callEdit = nullptr;
    QComboBox* m_portCombo = nullptr;
    QComboBox* m_speedCombo = nullptr;
    QButtonGroup* m_bitsGroup = nullptr;
    QButtonGroup* m_parityGroup = nullptr;
    std::array<QCheckBox*, kContinents.size()> m_continentChecks {};
    QLabel* m_portDevice = nullptr;
    QLineEdit* m_clusterAddressEdit = nullptr;
    QSpinBox* m_clusterPortBox = nullptr;
};
