// Port descriptions on POSIX systems: sysfs on Linux; elsewhere only the names are known.

#include "comport/port_info.h"

namespace corvel {

std::vector<PortInfo> DescribeSystemPorts(const std::vector<std::string>& names) {
    std::vector<PortInfo> out;
    out.reserve(names.size());
    for (const std::string& name : names) {
#ifdef __linux__
        out.push_back(ReadSysfsPortInfo("/sys", name));
#else
        PortInfo info;
        info.name = name;
        out.push_back(info);
#endif
    }
    return out;
}

}  // namespace corvel
