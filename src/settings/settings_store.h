#pragma once

#include "settings/app_identity.h"
#include "settings/relay_settings.h"

#include <string>

// The per-user store of the settings: an INI file (QSettings), group "Settings". An absent or
// unreadable value reads as the default of RelaySettings; a failed write is silent.

/// Loads every setting of `file` into `settings`. Returns "" or one line for the user that names
/// the file, what in it could not be read and what is used instead: a file that exists but cannot
/// be read or has no [Settings] group, a value that is not of its kind, a Port that names no port.
/// A file that does not exist yet (a first start) is no fault.
std::string LoadSettings(RelaySettings& settings, const std::string& file = DefaultSettingsFile());

/// Saves every setting to `file`.
void SaveSettings(const RelaySettings& settings, const std::string& file = DefaultSettingsFile());
