#include "settings/app_identity.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

std::string ApplicationName()
{
    // glibc keeps the base name of argv[0] for us, also where no Qt application object exists.
    return program_invocation_short_name;
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
