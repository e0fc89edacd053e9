#include "settings/app_identity.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

std::string ApplicationName()
{
    // glibc keeps the base name of argv[0] for us, also where no Qt application object exists.
    // Without its extension: "Quarnel.bin" keeps the settings and the caption of "Quarnel".
    std::string name = program_invocation_short_name;
    if (const std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) {
        name.erase(dot);
    }
    return name;
}

std::string OrganizationConfigFolder()
{
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        config = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        config = std::string(home) + "/.config";
    } else if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        config = std::string(entry->pw_dir) + "/.config";
    } else {
        return {};
    }
    return config + "/" + kOrganizationName;
}

std::string DefaultSettingsFile()
{
    const std::string folder = OrganizationConfigFolder();
    return folder.empty() ? std::string() : folder + "/" + ApplicationName() + ".conf";
}
