#include "comport/port_scan.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace corvel {

namespace {

// "ttyUSB10" -> ("ttyUSB", 10); names without a trailing number get -1.
std::pair<std::string, long> SplitTrailingNumber(const std::string& name) {
    std::size_t i = name.size();
    while (i > 0 && std::isdigit(static_cast<unsigned char>(name[i - 1]))) --i;
    if (i == name.size() || name.size() - i > 9) return {name, -1};
    return {name.substr(0, i), std::stol(name.substr(i))};
}

bool StartsWith(const std::string& s, std::string_view prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// Legacy 8250 ports exist in sysfs whether or not a UART is fitted; an absent one has type 0.
bool UartPresent(const std::filesystem::path& ttyDir) {
    std::ifstream f(ttyDir / "type");
    int type = 0;
    if (!(f >> type)) return false;
    return type != 0;
}

}  // namespace

std::vector<std::string> ScanSysfsSerialPorts(const std::string& sysfsRoot) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    const fs::path ttyClass = fs::path(sysfsRoot) / "class" / "tty";
    for (fs::directory_iterator it(ttyClass, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code e2;
        if (!fs::exists(it->path() / "device", e2)) continue;
        if (StartsWith(name, "ttyS") && !UartPresent(it->path())) continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return SplitTrailingNumber(a) < SplitTrailingNumber(b);
    });
    std::vector<std::string> result;
    result.reserve(names.size());
    for (const auto& n : names) result.push_back("/dev/" + n);
    return result;
}

std::vector<std::string> SplitPortList(std::string_view list, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(separator, start);
        if (end == std::string_view::npos) end = list.size();
        if (end > start) parts.emplace_back(list.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::vector<std::string> MergePortLists(std::vector<std::string> ports,
                                        const std::vector<std::string>& extra) {
    for (const auto& e : extra)
        if (std::find(ports.begin(), ports.end(), e) == ports.end()) ports.push_back(e);
    return ports;
}

}  // namespace corvel
