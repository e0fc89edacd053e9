#include "settings_store.h"

#include <cerrno>
#include <limits>

#include <QCoreApplication>
#include <QSettings>
#include <QString>
#include <QVariant>

namespace {

constexpr const char* kOrganization = "tolmar";
constexpr const char* kSection = "Settings";

// Qt names the application after argv[0] once an application object exists; without one the
// store still has to land in the same file, so take the same name glibc keeps for us.
QString ApplicationName()
{
    if (QCoreApplication::instance() != nullptr || !QCoreApplication::applicationName().isEmpty()) {
        return QCoreApplication::applicationName();
    }
    return QString::fromLocal8Bit(program_invocation_short_name);
}

class SettingsSection
{
public:
    SettingsSection()
        : m_store(QSettings::NativeFormat, QSettings::UserScope, QString::fromLatin1(kOrganization),
                  ApplicationName())
    {
        m_store.beginGroup(QString::fromLatin1(kSection));
    }

    ~SettingsSection()
    {
        m_store.endGroup();
        // A store that cannot be written (read-only file or folder) fails here without a word.
        m_store.sync();
    }

    SettingsSection(const SettingsSection&) = delete;
    SettingsSection& operator=(const SettingsSection&) = delete;

    std::string ReadText(const char* name, const std::string& fallback) const
    {
        const QVariant value = m_store.value(QString::fromLatin1(name));
        // An unquoted comma makes the INI reader hand back a list: not a text we wrote.
        if (!value.isValid() || value.typeId() == QMetaType::QStringList || !value.canConvert<QString>()) {
            return fallback;
        }
        return value.toString().toStdString();
    }

    std::int32_t ReadInt(const char* name, std::int32_t fallback) const
    {
        const QVariant value = m_store.value(QString::fromLatin1(name));
        if (!value.isValid() || value.typeId() == QMetaType::QStringList || !value.canConvert<QString>()) {
            return fallback;
        }
        bool ok = false;
        const qlonglong number = value.toString().trimmed().toLongLong(&ok, 10);
        if (!ok || number < std::numeric_limits<std::int32_t>::min()
            || number > std::numeric_limits<std::int32_t>::max()) {
            return fallback;
        }
        return static_cast<std::int32_t>(number);
    }

    void WriteText(const char* name, const std::string& text)
    {
        m_store.setValue(QString::fromLatin1(name), QString::fromStdString(text));
    }

    void WriteInt(const char* name, std::int32_t number)
    {
        m_store.setValue(QString::fromLatin1(name), static_cast<int>(number));
    }

private:
    QSettings m_store;
};

} // namespace

void LoadSettings(RelaySettings& settings)
{
    const SettingsSection section;
    settings.URL = section.ReadText("URL", kDefaultSpotUrl);
    settings.Port = section.ReadText("Port", "None");
    settings.Bits = section.ReadInt("Bits", 1);
    settings.Parity = section.ReadInt("Parity", 1);
    settings.Speed = section.ReadInt("Speed", 3);
    settings.DxccFilter = section.ReadInt("DxccFilter", 0);
}

void SaveSettings(const RelaySettings& settings)
{
    SettingsSection section;
    section.WriteText("Port", settings.Port);
    section.WriteText("URL", settings.URL);
    section.WriteInt("Bits", settings.Bits);
    section.WriteInt("Parity", settings.Parity);
    section.WriteInt("Speed", settings.Speed);
    section.WriteInt("DxccFilter", settings.DxccFilter);
}
