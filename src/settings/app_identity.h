#pragma once

#include <string>

// Who the program is, for everything that names a per-user place: the settings file, the
// folder of serial port links, the caption of the message boxes. No Qt here, so that the
// serial layer can use it too.

/// The organisation under which the per-user files live.
inline constexpr const char* kOrganizationName = "tolmar";

/// The executable's file name without its folder and its extension: "Quarnel".
[[nodiscard]] std::string ApplicationName();

/// $XDG_CONFIG_HOME/tolmar (an absolute XDG_CONFIG_HOME only), else ~/.config/tolmar; empty when
/// no home folder is known.
[[nodiscard]] std::string OrganizationConfigFolder();

/// The settings file: <organisation folder>/<application>.conf.
[[nodiscard]] std::string DefaultSettingsFile();
