#include "serial/com_ports.h"

#include "settings/app_identity.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sys/stat.h>

namespace {

// COM numbers of the fixed table: 32 ports of each kind of serial device, in this order.
constexpr const char* kDeviceFamilies[]
    = {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyAMA", "/dev/rfcomm"};
constexpr int kPortsPerFamily = 32;
constexpr int kTablePorts = kPortsPerFamily * static_cast<int>(std::size(kDeviceFamilies));

bool IsCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

/// False for a ttyS node without a UART behind it: the kernel creates one for every possible UART
/// and reports the fitted ones with a known type (PORT_UNKNOWN is 0). True for any other device,
/// and when the type cannot be read.
bool IsFittedUart(const std::string& realDevice)
{
    const std::string base = realDevice.substr(realDevice.rfind('/') + 1);
    if (base.size() <= 4 || base.compare(0, 4, "ttyS") != 0
        || !std::all_of(base.begin() + 4, base.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return true;
    }
    std::ifstream typeFile("/sys/class/tty/" + base + "/type");
    int type = 0;
    return !(typeFile >> type) || type != 0;
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
    return IsFittedUart(realDevice);
}

} // namespace

int PortNumberOf(const std::string& portText)
{
    std::size_t i = 3;
    while (i < portText.size() && IsCSpace(portText[i])) {
        ++i;
    }
    bool negative = false;
    if (i < portText.size() && (portText[i] == '+' || portText[i] == '-')) {
        negative = portText[i] == '-';
        ++i;
    }
    // Saturate instead of wrapping: a huge number must not come out as 0 ("no link") or as a
    // small port that exists.
    long long value = 0;
    for (; i < portText.size() && portText[i] >= '0' && portText[i] <= '9'; ++i) {
        value = std::min<long long>(value * 10 + (portText[i] - '0'), INT_MAX + 1LL);
    }
    return static_cast<int>(std::clamp<long long>(negative ? -value : value, INT_MIN, INT_MAX));
}

std::string ComPortLinkDirectory()
{
    const std::string folder = OrganizationConfigFolder();
    return folder.empty() ? std::string() : folder + "/" + ApplicationName() + "/ports";
}

std::string ComPortName(int port)
{
    return "COM" + std::to_string(port);
}

std::string ComPortDevice(int port)
{
    if (port < 1) {
        return {};
    }
    if (const std::string directory = ComPortLinkDirectory(); !directory.empty()) {
        const std::string link = directory + "/" + ComPortName(port);
        struct stat info = {};
        if (lstat(link.c_str(), &info) == 0) {
            return link;
        }
    }
    if (port > kTablePorts) {
        return {};
    }
    const int index = port - 1;
    return kDeviceFamilies[index / kPortsPerFamily] + std::to_string(index % kPortsPerFamily);
}

void EnumerateComPorts(ComPortList& list)
{
    list.clear();
    std::set<int> ports;
    for (int port = 1; port <= kTablePorts; ++port) {
        ports.insert(port);
    }
    const std::string directory = ComPortLinkDirectory();
    if (DIR* dir = directory.empty() ? nullptr : opendir(directory.c_str()); dir != nullptr) {
        while (const dirent* entry = readdir(dir)) {
            // A name that is not exactly "COM<n>" finds no link under its number: it is not listed.
            if (const int port = PortNumberOf(entry->d_name); port > 0) {
                ports.insert(port);
            }
        }
        closedir(dir);
    }
    for (const int port : ports) {
        if (IsPresentDevice(ComPortDevice(port))) {
            list.push_back(static_cast<unsigned int>(port));
        }
    }
}
