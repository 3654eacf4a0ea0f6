// Port scan on POSIX systems: sysfs on Linux, the callout devices elsewhere.

#include <cstdlib>
#include <filesystem>

#include "comport/port_scan.h"

namespace corvel {

namespace {

std::vector<std::string> SystemPorts() {
#ifdef __linux__
    return ScanSysfsSerialPorts("/sys");
#else
    std::vector<std::string> ports;
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/dev", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("cu.", 0) == 0) ports.push_back(it->path().string());
    }
    std::sort(ports.begin(), ports.end());
    return ports;
#endif
}

}  // namespace

std::vector<std::string> ScanSerialPorts() {
    const char* extra = std::getenv(kExtraPortsVariable);
    return MergePortLists(SystemPorts(), SplitPortList(extra ? extra : "", ':'));
}

}  // namespace corvel
