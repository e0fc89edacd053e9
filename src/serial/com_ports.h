#pragma once

#include <string>
#include <vector>

// Serial ports are named "COM<n>" as in the cluster world. A name maps to a device through a
// per-user link of that name in ComPortLinkDirectory() when there is one, otherwise through the
// fixed table COM1-32 = /dev/ttyS0-31, COM33-64 = /dev/ttyUSB0-31, COM65-96 = /dev/ttyACM0-31,
// COM97-128 = /dev/ttyAMA0-31, COM129-160 = /dev/rfcomm0-31.

/// The numbers of the serial ports present, in COM order.
using ComPortList = std::vector<unsigned int>;

/// Lists into `list` (emptied first) every port whose device is present: a character device,
/// and for a ttyS node one with a UART behind it.
void EnumerateComPorts(ComPortList& list);

/// "COM<port>": the name a port has in the settings, the port list and every message.
[[nodiscard]] std::string ComPortName(int port);

/// The device behind "COM<port>"; empty for a number outside every table and without a link.
[[nodiscard]] std::string ComPortDevice(int port);

/// The per-user folder of port links: <organisation config folder>/<application>/ports.
[[nodiscard]] std::string ComPortLinkDirectory();

/// The port number of a Port text: the characters after its first three read as a decimal
/// number (leading white space, an optional sign, digits up to the first other character),
/// saturated to the int range; 0 when there are no digits. "COM12" gives 12, "None" 0.
[[nodiscard]] int PortNumberOf(const std::string& portText);
