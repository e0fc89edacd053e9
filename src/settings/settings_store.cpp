#include "settings/settings_store.h"

#include <limits>

#include <QSettings>
#include <QString>
#include <QVariant>

namespace {

class SettingsSection
{
public:
    explicit SettingsSection(const std::string& file)
        : m_store(QString::fromStdString(file), QSettings::IniFormat)
    {
        m_store.beginGroup(QStringLiteral("Settings"));
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
        bool ok = false;
        const qlonglong number = QString::fromStdString(ReadText(name, {})).trimmed().toLongLong(&ok, 10);
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

void LoadSettings(RelaySettings& settings, const std::string& file)
{
    const RelaySettings defaults;
    if (file.empty()) {
        settings = defaults;
        return;
    }
    const SettingsSection section(file);
    settings.URL = section.ReadText("URL", defaults.URL);
    settings.Port = section.ReadText("Port", defaults.Port);
    settings.Bits = section.ReadInt("Bits", defaults.Bits);
    settings.Parity = section.ReadInt("Parity", defaults.Parity);
    settings.Speed = section.ReadInt("Speed", defaults.Speed);
    settings.DxccFilter = section.ReadInt("DxccFilter", defaults.DxccFilter);
    settings.ClusterPort = section.ReadInt("ClusterPort", defaults.ClusterPort);
    settings.ClusterAddress = section.ReadText("ClusterAddress", defaults.ClusterAddress);
}

void SaveSettings(const RelaySettings& settings, const std::string& file)
{
    if (file.empty()) {
        return;
    }
    SettingsSection section(file);
    section.WriteText("Port", settings.Port);
    section.WriteText("URL", settings.URL);
    section.WriteInt("Bits", settings.Bits);
    section.WriteInt("Parity", settings.Parity);
    section.WriteInt("Speed", settings.Speed);
    section.WriteInt("DxccFilter", settings.DxccFilter);
    section.WriteInt("ClusterPort", settings.ClusterPort);
    section.WriteText("ClusterAddress", settings.ClusterAddress);
}
