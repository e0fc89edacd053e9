#pragma once

#include <cstddef>
#include <functional>
#include <string>

// The platform calls under EnumerateComPorts, replaceable so that both of its paths can be driven
// with any answer the platform might give.
namespace serial_detail {

/// The platform family whose device-name list is read; any other family is probed.
inline constexpr unsigned long kPlatformDeviceList = 2;

/// How an exclusive open of a device ended.
enum class ProbeResult
{
    Opened, ///< it opened (and has been closed again)
    AccessDenied, ///< it exists but another program holds it, or we may not open it
    Missing, ///< no such device, or not a serial device
};

struct ComPortPlatform
{
    /// Reads the platform family into `platformId`; false when it cannot be read.
    std::function<bool(unsigned long& platformId)> getVersion;
    /// Fills `buffer` with the device names, each NUL-terminated, an empty name last; at most
    /// `size` characters. Returns the number of characters stored, 0 on failure.
    std::function<std::size_t(char* buffer, std::size_t size)> queryDosDevice;
    /// Opens the device named like "\\.\COM5" exclusively and closes it again at once.
    std::function<ProbeResult(const std::string& name)> probeOpen;
};

/// The calls EnumerateComPorts uses; tests replace members and restore them afterwards.
ComPortPlatform& comPortPlatform();
/// The real calls of this platform.
[[nodiscard]] ComPortPlatform nativeComPortPlatform();

/// The device behind a DOS-style port name "COM<n>": the per-user link when one exists,
/// otherwise the fixed table. Empty when the name maps to nothing.
[[nodiscard]] std::string ResolveComName(const std::string& name);

/// Whether `device` names a serial device that is there: a character device (links followed),
/// and for a ttyS placeholder, one whose UART type is known.
[[nodiscard]] bool IsPresentDevice(const std::string& device);

/// False for a ttyS node without a UART behind it: the kernel creates one for every possible UART and
/// reports the fitted ones with a known type (PORT_UNKNOWN is 0) under `classDirectory`. True for
/// any other device, and when the type cannot be read.
[[nodiscard]] bool IsFittedUart(const std::string& realDevice, const std::string& classDirectory);

/// The Linux device-name list: "COM<n>" for every present port, per-user links included,
/// in ascending order.
[[nodiscard]] std::size_t QueryComDeviceNames(char* buffer, std::size_t size);

} // namespace serial_detail
