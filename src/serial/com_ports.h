#pragma once

#include <string>
#include <vector>

/// The numbers of the serial ports present, in the order found.
using ComPortList = std::vector<unsigned int>;

/// Lists the COM ports of the machine into `list` (emptied first).
void EnumerateComPorts(ComPortList& list);

/// The device behind "COM<port>": the per-user link in the ports folder when there is one,
/// otherwise the fixed table (COM1 = /dev/ttyS0 ...). Empty for a number outside every table.
[[nodiscard]] std::string ComPortDevice(int port);

/// The per-user folder of port links: $XDG_CONFIG_HOME/tolmar/<application>/ports.
[[nodiscard]] std::string ComPortLinkDirectory();
