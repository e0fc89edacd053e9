#include "settings/settings_store.h"

#include "relay/spot_filter.h"
#include "serial/com_ports.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>
#include <variant>

#include <QSettings>
#include <QString>
#include <QVariant>

namespace {

using TextMember = std::string RelaySettings::*;
using NumberMember = std::int32_t RelaySettings::*;

struct Key
{
    const char* name;
    std::variant<TextMember, NumberMember> member;
    /// A list the INI reader makes of unquoted commas is joined again (the watch list is one).
    bool commasAllowed = false;
};

// Every setting once, in the order they are written.
constexpr std::array kKeys = {
    Key {"Port", &RelaySettings::Port},
    Key {"URL", &RelaySettings::URL},
    Key {"Bits", &RelaySettings::Bits},
    Key {"Parity", &RelaySettings::Parity},
    Key {"Speed", &RelaySettings::Speed},
    Key {"DxccFilter", &RelaySettings::DxccFilter},
    Key {"ClusterPort", &RelaySettings::ClusterPort},
    Key {"ClusterAddress", &RelaySettings::ClusterAddress},
    Key {"Call", &RelaySettings::Call},
    Key {"Bands", &RelaySettings::Bands},
    Key {"Modes", &RelaySettings::Modes},
    Key {"WatchList", &RelaySettings::WatchList, true},
    Key {"SkimmerRepeat", &RelaySettings::SkimmerRepeat},
};

const QString kGroup = QStringLiteral("Settings");

/// The text of a value as stored, or nothing when it is absent. An unquoted comma makes the INI
/// reader hand back a list: not a text we wrote, unless the key allows commas.
std::optional<QString> StoredText(const QSettings& store, const Key& key, bool& unreadable)
{
    const QVariant value = store.value(QString::fromLatin1(key.name));
    if (key.commasAllowed && value.typeId() == QMetaType::QStringList) {
        unreadable = false;
        return value.toStringList().join(QLatin1Char(','));
    }
    unreadable
        = value.isValid() && (value.typeId() == QMetaType::QStringList || !value.canConvert<QString>());
    if (!value.isValid() || unreadable) {
        return std::nullopt;
    }
    return value.toString();
}

std::optional<std::int32_t> NumberOf(const QString& text)
{
    bool ok = false;
    const qlonglong number = text.trimmed().toLongLong(&ok, 10);
    if (!ok || number < std::numeric_limits<std::int32_t>::min()
        || number > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(number);
}

/// Why the file cannot be read, or "" when it can (or does not exist).
std::string ReadFailure(const std::string& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? std::string() : std::strerror(errno);
    }
    char byte = 0;
    const bool failed = ::read(fd, &byte, 1) < 0;
    const int error = errno;
    ::close(fd);
    return failed ? std::strerror(error) : std::string();
}

std::string Quoted(const QString& text)
{
    return "\"" + text.toStdString() + "\"";
}

} // namespace

std::string LoadSettings(RelaySettings& settings, const std::string& file)
{
    const RelaySettings defaults;
    settings = defaults;
    if (file.empty()) {
        return {};
    }
    const std::string where = "Settings file " + file + ": ";
    if (const std::string failure = ReadFailure(file); !failure.empty()) {
        return where + "cannot be read (" + failure + "), the defaults are used";
    }
    QSettings store(QString::fromStdString(file), QSettings::IniFormat);
    if (::access(file.c_str(), F_OK) == 0 && !store.childGroups().contains(kGroup)) {
        return where + "no [Settings] group, the defaults are used";
    }
    store.beginGroup(kGroup);
    std::string faults;
    const auto fault = [&faults](const std::string& text) { faults += (faults.empty() ? "" : "; ") + text; };
    for (const Key& key : kKeys) {
        bool unreadable = false;
        const std::optional<QString> text = StoredText(store, key, unreadable);
        if (const auto* member = std::get_if<TextMember>(&key.member)) {
            if (text) {
                settings.*(*member) = text->toStdString();
            } else if (unreadable) {
                fault(std::string(key.name) + " cannot be read, \"" + defaults.*(*member) + "\" is used");
            }
            continue;
        }
        const auto member = std::get<NumberMember>(key.member);
        if (const auto number = text ? NumberOf(*text) : std::nullopt) {
            settings.*member = *number;
        } else if (text || unreadable) {
            fault(std::string(key.name) + " " + (text ? Quoted(*text) + " is" : std::string("is"))
                  + " no number, " + std::to_string(defaults.*member) + " is used");
        }
    }
    if (PortNumberOf(settings.Port) == 0 && !settings.Port.empty() && settings.Port != defaults.Port) {
        fault("Port " + Quoted(QString::fromStdString(settings.Port)) + " names no COM port, None is used");
    }
    if (const std::string outOfRange = FilterSettingsReport(settings); !outOfRange.empty()) {
        fault(outOfRange);
    }
    return faults.empty() ? std::string() : where + faults;
}

void SaveSettings(const RelaySettings& settings, const std::string& file)
{
    if (file.empty()) {
        return;
    }
    QSettings store(QString::fromStdString(file), QSettings::IniFormat);
    store.beginGroup(kGroup);
    for (const Key& key : kKeys) {
        if (const auto* member = std::get_if<TextMember>(&key.member)) {
            store.setValue(QString::fromLatin1(key.name), QString::fromStdString(settings.*(*member)));
        } else {
            store.setValue(QString::fromLatin1(key.name),
                           static_cast<int>(settings.*std::get<NumberMember>(key.member)));
        }
    }
    store.endGroup();
    // A store that cannot be written (read-only file or folder) fails here without a word.
    store.sync();
}
