#include "serial/com_ports.h"

#include "serial/com_ports_detail.h"
#include "serial/serial_port_detail.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <pwd.h>
#include <set>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace serial_detail {
namespace {

// COM numbers of the fixed table: 32 ports of each kind of serial device, in this order.
constexpr const char* kDeviceFamilies[]
    = {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyAMA", "/dev/rfcomm"};
constexpr int kPortsPerFamily = 32;
constexpr int kTablePorts = kPortsPerFamily * static_cast<int>(std::size(kDeviceFamilies));

std::string TableDevice(int port)
{
    if (port < 1 || port > kTablePorts) {
        return {};
    }
    const int index = port - 1;
    return kDeviceFamilies[index / kPortsPerFamily] + std::to_string(index % kPortsPerFamily);
}

// The number of a canonical port name "COM<n>" (n >= 1, no sign, no leading zero), else 0.
int CanonicalPortNumber(const std::string& name)
{
    if (name.size() < 4 || name.compare(0, 3, "COM") != 0 || name[3] < '1' || name[3] > '9') {
        return 0;
    }
    long value = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return 0;
        }
        value = value * 10 + (name[i] - '0');
        if (value > INT_MAX) {
            return 0;
        }
    }
    return static_cast<int>(value);
}

std::string HomeDirectory()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return {};
}

bool IsLink(const std::string& path)
{
    struct stat info = {};
    return lstat(path.c_str(), &info) == 0;
}

} // namespace

std::string ResolveComName(const std::string& name)
{
    const int port = CanonicalPortNumber(name);
    if (port == 0) {
        return {};
    }
    const std::string directory = ComPortLinkDirectory();
    if (!directory.empty()) {
        const std::string link = directory + "/" + name;
        if (IsLink(link)) {
            return link;
        }
    }
    return TableDevice(port);
}

bool IsFittedUart(const std::string& realDevice, const std::string& classDirectory)
{
    const auto slash = realDevice.rfind('/');
    const std::string base = realDevice.substr(slash == std::string::npos ? 0 : slash + 1);
    if (base.size() <= 4 || base.compare(0, 4, "ttyS") != 0
        || !std::all_of(base.begin() + 4, base.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return true;
    }
    std::ifstream typeFile(classDirectory + "/" + base + "/type");
    int type = 0;
    if (!(typeFile >> type)) {
        return true;
    }
    return type != 0;
}

bool IsPresentDevice(const std::string& device)
{
    struct stat info = {};
    if (device.empty() || stat(device.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) {
        return false;
    }
    char* real = realpath(device.c_str(), nullptr);
    if (real == nullptr) {
        return false;
    }
    const std::string realDevice = real;
    std::free(real);
    return IsFittedUart(realDevice, "/sys/class/tty");
}

std::size_t QueryComDeviceNames(char* buffer, std::size_t size)
{
    std::set<int> ports;
    for (int port = 1; port <= kTablePorts; ++port) {
        ports.insert(port);
    }
    const std::string directory = ComPortLinkDirectory();
    if (!directory.empty()) {
        if (DIR* dir = opendir(directory.c_str()); dir != nullptr) {
            while (const dirent* entry = readdir(dir)) {
                if (const int port = CanonicalPortNumber(entry->d_name); port != 0) {
                    ports.insert(port);
                }
            }
            closedir(dir);
        }
    }

    std::size_t used = 0;
    for (const int port : ports) {
        const std::string name = "COM" + std::to_string(port);
        if (!IsPresentDevice(ResolveComName(name))) {
            continue;
        }
        // Room for this name, its NUL and the empty name that ends the list.
        if (used + name.size() + 2 > size) {
            return 0;
        }
        std::memcpy(buffer + used, name.c_str(), name.size() + 1);
        used += name.size() + 1;
    }
    if (used + 1 > size) {
        return 0;
    }
    buffer[used++] = '\0';
    return used;
}

ComPortPlatform nativeComPortPlatform()
{
    ComPortPlatform platform;
    // The COM table is a list of device names, so Linux takes the device-list path.
    platform.getVersion = [](unsigned long& platformId) {
        platformId = kPlatformDeviceList;
        return true;
    };
    platform.queryDosDevice = QueryComDeviceNames;
    platform.probeOpen = [](const std::string& name) {
        std::string port = name;
        if (port.rfind("\\\\.\\", 0) == 0) {
            port.erase(0, 4);
        }
        OpenError error = OpenError::None;
        const int fd = OpenExclusive(ResolveComName(port), error);
        if (fd >= 0) {
            CloseExclusive(fd);
            return ProbeResult::Opened;
        }
        return error == OpenError::AccessDenied ? ProbeResult::AccessDenied : ProbeResult::Missing;
    };
    return platform;
}

ComPortPlatform& comPortPlatform()
{
    static ComPortPlatform platform = nativeComPortPlatform();
    return platform;
}

} // namespace serial_detail

std::string ComPortLinkDirectory()
{
    // Same folder rules as the settings file: an absolute XDG_CONFIG_HOME, else ~/.config.
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        config = xdg;
    } else {
        const std::string home = serial_detail::HomeDirectory();
        if (home.empty()) {
            return {};
        }
        config = home + "/.config";
    }
    return config + "/tolmar/" + program_invocation_short_name + "/ports";
}

std::string ComPortDevice(int port)
{
    return serial_detail::ResolveComName("COM" + std::to_string(port));
}

namespace {

// The number after "COM", read as decimal text the usual way (white space, sign, digits up to the
// first other character; none gives 0), in the 32-bit range of the platform's conversion.
unsigned int PortNumberOf(const char* name)
{
    const long value = std::strtol(name + 3, nullptr, 10);
    const long clamped = std::clamp<long>(value, INT_MIN, INT_MAX);
    return static_cast<unsigned int>(static_cast<int>(clamped));
}

void ListDeviceNames(ComPortList& list)
{
    // The platform's answer fits 65535 characters; the extra NUL ends the last name whatever it sent.
    constexpr std::size_t kBufferSize = 65536;
    std::vector<char> names(kBufferSize, '\0');
    const std::size_t stored = serial_detail::comPortPlatform().queryDosDevice(names.data(), kBufferSize - 1);
    if (stored == 0) {
        return;
    }
    const std::size_t end = std::min(stored, kBufferSize - 1);
    for (std::size_t at = 0; at < end;) {
        const char* name = names.data() + at;
        const std::size_t length = strnlen(name, kBufferSize - at);
        if (length == 0) {
            break;
        }
        if (length > 3 && strncasecmp(name, "COM", 3) == 0) {
            list.push_back(PortNumberOf(name));
        }
        at += length + 1;
    }
}

void ProbePorts(ComPortList& list)
{
    for (unsigned int port = 1; port < 256; ++port) {
        char name[16];
        std::snprintf(name, sizeof name, "\\\\.\\COM%u", port);
        const auto result = serial_detail::comPortPlatform().probeOpen(name);
        // A port another program holds cannot be opened, but it is there.
        if (result == serial_detail::ProbeResult::Opened
            || result == serial_detail::ProbeResult::AccessDenied) {
            list.push_back(port);
        }
    }
}

} // namespace

void EnumerateComPorts(ComPortList& list)
{
    list.clear();
    unsigned long platformId = 0;
    const bool known = serial_detail::comPortPlatform().getVersion(platformId);
    if (known && platformId == serial_detail::kPlatformDeviceList) {
        ListDeviceNames(list);
    } else {
        ProbePorts(list);
    }
}
