#include "ui/filter_dlg.h"

#include "ui/dialog_units.h"
#include "ui/qt_text.h"
#include "ui/template_controls.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace {

constexpr std::array<SpotMode, 3> kModes = {kModeCw, kModePhone, kModeDigital};
constexpr std::array<const char*, 3> kModeNames = {"CW", "Phone", "Digital"};

QCheckBox* AddCheck(QWidget* dialog, const QString& caption, const QString& name, int left, int top,
                    int width)
{
    auto* check = new QCheckBox(caption, dialog);
    check->setObjectName(name);
    PlaceControl(check, left, top, width, 8);
    return check;
}

/// A mask out of its range is treated as off, and shown so: no box checked.
std::int32_t Shown(std::int32_t mask, std::int32_t all)
{
    return mask < 0 || mask > all ? 0 : mask;
}

} // namespace

CFilterDlg::CFilterDlg(QWidget* owner)
    : QDialog(owner,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("Filters"));
    SetDialogSize(this, 240, 150);
    CreateControls();
}

void CFilterDlg::CreateControls()
{
    // A box per band, four to a row in the order of the band table, "other" last; none checked
    // lets every band through, as the setting 0 does.
    AddGroupBox(this, "bandGroup", QStringLiteral("Bands (none checked: all)"), {7, 4, 226, 64});
    for (std::size_t i = 0; i < m_bandChecks.size(); ++i) {
        const bool other = i == kBands.size();
        const int left = 13 + 55 * static_cast<int>(i % 4);
        const int top = 16 + 12 * static_cast<int>(i / 4);
        m_bandChecks[i]
            = AddCheck(this, other ? QStringLiteral("Other") : QString::fromLatin1(kBands[i].name),
                       QStringLiteral("band%1").arg(other ? kOtherBand : kBands[i].bit), left, top, 53);
    }
    AddGroupBox(this, "modeGroup", QStringLiteral("Modes (none checked: all)"), {7, 72, 226, 22});
    for (std::size_t i = 0; i < kModes.size(); ++i) {
        m_modeChecks[i]
            = AddCheck(this, QString::fromLatin1(kModeNames[i]), QStringLiteral("mode%1").arg(kModes[i]),
                       13 + 55 * static_cast<int>(i), 82, 53);
    }

    AddLabel(this, "watchLabel", QStringLiteral("Watch list :"), {7, 101, 44, 8});
    m_watchEdit = new QLineEdit(this);
    m_watchEdit->setObjectName(QStringLiteral("watchList"));
    m_watchEdit->setToolTip(
        QStringLiteral("DX calls to let through, e.g. 3Y0J VP8*: * stands for any characters, ? for one"));
    PlaceControl(m_watchEdit, 60, 99, 173, 12);

    AddLabel(this, "repeatLabel", QStringLiteral("Skimmer repeats held back (minutes, 0 = off) :"),
             {7, 117, 170, 8});
    m_repeatBox = new QSpinBox(this);
    m_repeatBox->setObjectName(QStringLiteral("skimmerRepeat"));
    m_repeatBox->setRange(0, kMaxSkimmerRepeat);
    PlaceControl(m_repeatBox, 193, 115, 40, 12);

    QPushButton* ok = AddButton(this, "1", QStringLiteral("OK"), {129, 132, 50, 14});
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CFilterDlg::accept);
    QPushButton* cancel = AddButton(this, "2", QStringLiteral("Cancel"), {183, 132, 50, 14});
    connect(cancel, &QPushButton::clicked, this, &CFilterDlg::reject);
}

void CFilterDlg::setVisible(bool visible)
{
    if (visible && !m_initialised) {
        m_initialised = true;
        DoDataExchange(false);
    }
    QDialog::setVisible(visible);
}

void CFilterDlg::accept()
{
    DoDataExchange(true);
    QDialog::accept();
}

void CFilterDlg::DoDataExchange(bool save)
{
    const auto bandBit = [](std::size_t i) { return i < kBands.size() ? kBands[i].bit : kOtherBand; };
    if (save) {
        m_bands = 0;
        for (std::size_t i = 0; i < m_bandChecks.size(); ++i) {
            m_bands |= m_bandChecks[i]->isChecked() ? bandBit(i) : 0;
        }
        m_modes = 0;
        for (std::size_t i = 0; i < kModes.size(); ++i) {
            m_modes |= m_modeChecks[i]->isChecked() ? kModes[i] : 0;
        }
        m_watchList = ToBytes(m_watchEdit->text().trimmed());
        m_skimmerRepeat = m_repeatBox->value();
        return;
    }
    const std::int32_t bands = Shown(m_bands, kAllBands);
    for (std::size_t i = 0; i < m_bandChecks.size(); ++i) {
        m_bandChecks[i]->setChecked((bands & bandBit(i)) != 0);
    }
    const std::int32_t modes = Shown(m_modes, kAllModes);
    for (std::size_t i = 0; i < kModes.size(); ++i) {
        m_modeChecks[i]->setChecked((modes & kModes[i]) != 0);
    }
    m_watchEdit->setText(FromBytes(m_watchList));
    m_repeatBox->setValue(Shown(m_skimmerRepeat, kMaxSkimmerRepeat));
}
