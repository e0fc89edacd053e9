#pragma once

#include "settings/app_identity.h"
#include "settings/relay_settings.h"

#include <string>

// The per-user store of the settings: an INI file (QSettings), group "Settings". An absent or
// unreadable value reads as the default of RelaySettings; a failed write is silent.

/// Loads URL, Port, Bits, Parity, Speed, DxccFilter, ClusterPort and ClusterAddress, in that order.
void LoadSettings(RelaySettings& settings, const std::string& file = DefaultSettingsFile());

/// Saves Port, URL, Bits, Parity, Speed, DxccFilter, ClusterPort and ClusterAddress, in that order.
void SaveSettings(const RelaySettings& settings, const std::string& file = DefaultSettingsFile());
