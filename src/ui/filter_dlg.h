#pragma once

#include "relay/spot_filter.h"

#include <array>
#include <cstdint>
#include <string>

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QSpinBox;

/// "Filters": band, mode, watch list and skimmer repeats, opened from the configuration. It edits
/// copies; the caller copies them in before exec() and back out after OK.
class CFilterDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CFilterDlg(QWidget* owner = nullptr);

    void setVisible(bool visible) override;
    void accept() override;

    std::int32_t m_bands = 0; ///< bits of kBands and kOtherBand; 0: all
    std::int32_t m_modes = 0; ///< kModeCw, kModePhone, kModeDigital; 0: all
    std::string m_watchList;
    std::int32_t m_skimmerRepeat = 0; ///< minutes; 0: off

private:
    void CreateControls();
    void DoDataExchange(bool save);

    bool m_initialised = false;
    std::array<QCheckBox*, kBands.size() + 1> m_bandChecks {}; ///< kBands, then "other"
    std::array<QCheckBox*, 3> m_modeChecks {};
    QLineEdit* m_watchEdit = nullptr;
    QSpinBox* m_repeatBox = nullptr;
};
