#include "ui/config_dlg.h"

#include "serial/com_ports.h"
#include "serial/serial_port.h"
#include "settings/relay_settings.h"
#include "ui/dialog_units.h"
#include "ui/filter_dlg.h"
#include "ui/qt_text.h"
#include "ui/template_controls.h"

#include <array>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

namespace {

/// Spot sources known to work, in the URL box's list: the <PRE> page, the JSON and caret feeds,
/// which are fetched every ten seconds, then a cluster node and a skimmer network's CW port, which
/// push their spots over telnet.
constexpr const char* kKnownSources[] = {
    kDefaultSpotUrl,
    "http://www.dxsummit.fi/api/v1/spots?limit=25",
    "https://spothole.app/api/v1/spots?limit=25",
    "https://www.hamqth.com/dxc_csv.php?limit=25",
    "telnet://gb7djk.dxcluster.net:7300",
    "telnet://telnet.reversebeacon.net:7000",
};

QComboBox* AddComboBox(QWidget* dialog, const char* id, int left, int top, int width)
{
    auto* combo = new QComboBox(dialog);
    combo->setObjectName(QLatin1String(id));
    combo->setMaxVisibleItems(8);
    // The template's height includes the dropped-down list; the closed box takes its natural height.
    PlaceControl(combo, left, top, width, 12);
    combo->resize(combo->width(), combo->sizeHint().height());
    return combo;
}

QRadioButton* AddRadio(QWidget* dialog, QButtonGroup* group, int index, const char* id,
                       const QString& caption, const QRect& units)
{
    auto* radio = new QRadioButton(caption, dialog);
    radio->setObjectName(QLatin1String(id));
    radio->setFocusPolicy(Qt::ClickFocus); // no tab stops, as on the template
    PlaceControl(radio, units.x(), units.y(), units.width(), units.height());
    group->addButton(radio, index);
    return radio;
}

QCheckBox* AddCheck(QWidget* dialog, int id, const char* caption, int left)
{
    auto* check = new QCheckBox(QLatin1String(caption), dialog);
    check->setObjectName(QString::number(id));
    PlaceControl(check, left, 105, 27, 8);
    return check;
}

void ExchangeRadio(QButtonGroup* group, std::int32_t& member, bool save)
{
    if (save) {
        member = group->checkedId();
        return;
    }
    group->setExclusive(false); // otherwise the checked button cannot be cleared
    for (QAbstractButton* button : group->buttons()) {
        button->setChecked(group->id(button) == member);
    }
    group->setExclusive(true);
}

void ExchangeCheck(QCheckBox* check, std::int32_t& member, bool save)
{
    // Members count as the platform's check states do: 0 clear, 1 checked, 2 indeterminate.
    if (save) {
        const Qt::CheckState state = check->checkState();
        member = state == Qt::Checked ? 1 : (state == Qt::PartiallyChecked ? 2 : 0);
        return;
    }
    if (member < 0 || member > 2) {
        member = 0;
    }
    check->setCheckState(member == 1 ? Qt::Checked : (member == 2 ? Qt::PartiallyChecked : Qt::Unchecked));
}

} // namespace

int SelectString(QComboBox* combo, int start, const QString& text)
{
    const int count = combo->count();
    const int first = (start < 0 || start >= count) ? 0 : start + 1;
    for (int step = 0; step < count; ++step) {
        const int index = (first + step) % count;
        if (combo->itemText(index).startsWith(text, Qt::CaseInsensitive)) {
            combo->setCurrentIndex(index);
            return index;
        }
    }
    return -1;
}

CConfigDlg::CConfigDlg(QWidget* owner)
    : QDialog(owner,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("Configuration panel"));
    // The template's 125 units high, and below them the cluster node's group and the Filters button.
    SetDialogSize(this, 251, 172);
    CreateControls();
}

void CConfigDlg::CreateControls()
{
    QPushButton* ok = AddButton(this, "1", QStringLiteral("OK"), {194, 29, 50, 14});
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CConfigDlg::accept);
    QPushButton* cancel = AddButton(this, "2", QStringLiteral("Cancel"), {194, 52, 50, 14});
    connect(cancel, &QPushButton::clicked, this, &CConfigDlg::reject);

    // The URL edit with a list of its own: the spot sources known to work, one step away.
    QComboBox* urlBox = AddComboBox(this, "1000", 30, 7, 145);
    urlBox->setEditable(true);
    urlBox->setInsertPolicy(QComboBox::NoInsert);
    for (const char* url : kKnownSources) {
        urlBox->addItem(QLatin1String(url));
    }
    m_urlEdit = urlBox->lineEdit();

    m_portCombo = AddComboBox(this, "1001", 51, 35, 40);

    AddLabel(this, "urlLabel", QStringLiteral("URL :"), {7, 10, 21, 9});
    // The station's call, which a cluster node or a skimmer network asks for at login.
    AddLabel(this, "callLabel", QStringLiteral("Call :"), {181, 10, 18, 9});
    m_callEdit = new QLineEdit(this);
    m_callEdit->setObjectName(QStringLiteral("call"));
    PlaceControl(m_callEdit, 201, 7, 42, 12);
    AddLabel(this, "portLabel", QStringLiteral("Serial Port :"), {11, 37, 37, 8});
    AddLabel(this, "speedLabel", QStringLiteral("Speed :"), {105, 37, 26, 8});
    AddLabel(this, "bitsLabel", QStringLiteral("Bits :"), {33, 55, 16, 8});
    AddLabel(this, "parityLabel", QStringLiteral("Parity :"), {108, 55, 22, 8});
    AddGroupBox(this, "comGroup", QStringLiteral("Com port settings"), {5, 25, 181, 63});

    m_speedCombo = AddComboBox(this, "1002", 135, 34, 40);

    m_bitsGroup = new QButtonGroup(this);
    AddRadio(this, m_bitsGroup, 0, "1003", QStringLiteral("7"), {53, 55, 40, 8});
    AddRadio(this, m_bitsGroup, 1, "1004", QStringLiteral("8"), {53, 65, 38, 8});
    m_parityGroup = new QButtonGroup(this);
    AddRadio(this, m_parityGroup, 0, "1005", QStringLiteral("None"), {138, 55, 37, 8});
    AddRadio(this, m_parityGroup, 1, "1007", QStringLiteral("Odd"), {138, 65, 38, 8});
    AddRadio(this, m_parityGroup, 2, "1008", QStringLiteral("Even"), {138, 75, 35, 8});

    AddGroupBox(this, "filterGroup", QStringLiteral("Filter"), {7, 94, 237, 24});
    // One box per continent, left to right in the order of the code table, 40 units apart.
    constexpr std::array<int, kContinents.size()> kCheckIds = {1010, 1011, 1012, 1014, 1015, 1016};
    for (std::size_t i = 0; i < kContinents.size(); ++i) {
        m_continentChecks[i]
            = AddCheck(this, kCheckIds[i], kContinents[i].code, 15 + 40 * static_cast<int>(i));
    }

    QPushButton* defaults = AddButton(this, "3", QStringLiteral("&Default"), {194, 73, 50, 14});
    connect(defaults, &QPushButton::clicked, this, &CConfigDlg::OnDefault);

    // "COM<n>" says nothing on Linux: the device behind the selected port is shown under the
    // port list, in the free corner of the port group.
    m_portDevice = AddLabel(this, "portDevice", QString(), {11, 76, 120, 8});
    connect(m_portCombo, &QComboBox::currentIndexChanged, this, &CConfigDlg::ShowPortDevice);

    // Loggers that read a DX cluster over telnet connect here; port 0 turns the node off.
    AddGroupBox(this, "clusterGroup", QStringLiteral("Cluster node for loggers"), {7, 122, 237, 26});
    AddLabel(this, "clusterAddressLabel", QStringLiteral("Address :"), {15, 134, 32, 8});
    m_clusterAddressEdit = new QLineEdit(this);
    m_clusterAddressEdit->setObjectName(QStringLiteral("clusterAddress"));
    PlaceControl(m_clusterAddressEdit, 50, 132, 90, 12);
    AddLabel(this, "clusterPortLabel", QStringLiteral("Port (0 = off) :"), {148, 134, 50, 8});
    m_clusterPortBox = new QSpinBox(this);
    m_clusterPortBox->setObjectName(QStringLiteral("clusterPort"));
    m_clusterPortBox->setRange(0, 65535);
    PlaceControl(m_clusterPortBox, 200, 132, 40, 12);

    // Band, mode, watch list and skimmer repeats in a dialog of their own: the template's panel
    // keeps the layout users know.
    QPushButton* filters = AddButton(this, "filters", QStringLiteral("&Filters..."), {194, 153, 50, 14});
    connect(filters, &QPushButton::clicked, this, &CConfigDlg::OnFilters);
}

void CConfigDlg::setVisible(bool visible)
{
    // Initialise once, before the first showing, as a template dialog does when it is created.
    if (visible && !m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

void CConfigDlg::OnInitDialog()
{
    m_portCombo->addItem(QStringLiteral("None"));
    m_portCombo->setItemData(0, QStringLiteral("No serial output"), Qt::ToolTipRole);
    m_portCombo->setCurrentIndex(-1);
    for (const std::uint32_t baud : kBaudRates) {
        m_speedCombo->addItem(QString::number(baud));
    }
    m_speedCombo->setCurrentIndex(-1);
    DoDataExchange(false);

    ComPortList ports;
    EnumerateComPorts(ports);
    for (const unsigned int port : ports) {
        m_portCombo->addItem(FromBytes(ComPortName(static_cast<int>(port))), port);
        QString device = FromBytes(ComPortDevice(static_cast<int>(port)));
        if (const QFileInfo link(device); link.isSymLink()) {
            device = link.symLinkTarget(); // the per-user link's own name says nothing; its target does
        }
        m_portCombo->setItemData(m_portCombo->count() - 1, device, Qt::ToolTipRole);
    }

    if (SelectString(m_portCombo, 0, FromBytes(m_port)) == -1 && !KeepAbsentPort()) {
        m_portCombo->setCurrentIndex(0);
    }
    ShowPortDevice();
    findChild<QPushButton*>(QStringLiteral("1"))->setFocus();
}

bool CConfigDlg::KeepAbsentPort()
{
    // An adapter that is unplugged while the dialog opens must not cost the user the choice of
    // port: its name stays in the list, in COM order, marked as absent, and OK keeps it.
    const int port = PortNumberOf(m_port);
    const QString name = FromBytes(ComPortName(port));
    if (port < 1 || name.compare(FromBytes(m_port), Qt::CaseInsensitive) != 0) {
        return false;
    }
    int index = 1;
    while (index < m_portCombo->count() && m_portCombo->itemData(index).toInt() < port) {
        ++index;
    }
    const QString device = FromBytes(ComPortDevice(port));
    m_portCombo->insertItem(index, name, port);
    m_portCombo->setItemData(
        index, (device.isEmpty() ? QStringLiteral("no device") : device) + QStringLiteral(" (absent)"),
        Qt::ToolTipRole);
    m_portCombo->setCurrentIndex(index);
    return true;
}

void CConfigDlg::DoDataExchange(bool save)
{
    if (save) {
        // Bytes the edit cannot show (not UTF-8) are kept unless the user changed the text.
        if (m_urlEdit->text() != m_urlShown) {
            m_url = ToBytes(m_urlEdit->text());
        }
    } else {
        m_urlShown = FromBytes(m_url);
        m_urlEdit->setText(m_urlShown);
    }
    ExchangeRadio(m_bitsGroup, m_bits, save);
    ExchangeRadio(m_parityGroup, m_parity, save);
    if (save) {
        m_speed = m_speedCombo->currentIndex();
        m_port = m_portCombo->currentIndex() < 0 ? std::string() : ToBytes(m_portCombo->currentText());
    } else {
        m_speedCombo->setCurrentIndex(m_speed >= 0 && m_speed < m_speedCombo->count() ? m_speed : -1);
        SelectString(m_portCombo, -1, FromBytes(m_port));
    }
    for (std::size_t i = 0; i < kContinents.size(); ++i) {
        ExchangeCheck(m_continentChecks[i], m_continents[i], save);
    }
    if (save) {
        m_clusterAddress = ToBytes(m_clusterAddressEdit->text().trimmed());
        m_clusterPort = m_clusterPortBox->value();
        m_call = ToBytes(m_callEdit->text().trimmed().toUpper());
    } else {
        m_clusterAddressEdit->setText(FromBytes(m_clusterAddress));
        m_clusterPortBox->setValue(m_clusterPort);
        m_callEdit->setText(FromBytes(m_call));
    }
}

void CConfigDlg::accept()
{
    DoDataExchange(true);
    QDialog::accept();
}

void CConfigDlg::OnDefault()
{
    // The stored defaults, but for no parity and COM2: users expect those from this button.
    const RelaySettings defaults;
    m_url = defaults.URL;
    m_bits = defaults.Bits;
    m_parity = 0;
    m_speed = defaults.Speed;
    m_port = ComPortName(2);
    m_continents = ChecksOfMask(defaults.DxccFilter);
    DoDataExchange(false);
}

void CConfigDlg::OnFilters()
{
    CFilterDlg dlg(this);
    dlg.m_bands = m_bands;
    dlg.m_modes = m_modes;
    dlg.m_watchList = m_watchList;
    dlg.m_skimmerRepeat = m_skimmerRepeat;
    if (dlg.exec() == QDialog::Accepted) {
        m_bands = dlg.m_bands;
        m_modes = dlg.m_modes;
        m_watchList = dlg.m_watchList;
        m_skimmerRepeat = dlg.m_skimmerRepeat;
    }
}

void CConfigDlg::ShowPortDevice()
{
    const int index = m_portCombo->currentIndex();
    const QString device = index > 0 ? m_portCombo->itemData(index, Qt::ToolTipRole).toString() : QString();
    const QString text = index > 0
        ? QStringLiteral("Device: %1").arg(device.isEmpty() ? QStringLiteral("unknown") : device)
        : QStringLiteral("Device: none");
    m_portDevice->setToolTip(text);
    m_portDevice->setText(
        m_portDevice->fontMetrics().elidedText(text, Qt::ElideMiddle, m_portDevice->width()));
}
