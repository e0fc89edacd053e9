#pragma once

#include "relay_settings.h"

// The per-user store of the settings: QSettings, organization "tolmar", the application's
// name, group "Settings". An absent or unreadable value reads as the default; a failed write
// is silent.

/// Loads URL, Port, Bits, Parity, Speed and DxccFilter, in that order.
void LoadSettings(RelaySettings& settings);

/// Saves Port, URL, Bits, Parity, Speed and DxccFilter, in that order.
void SaveSettings(const RelaySettings& settings);
