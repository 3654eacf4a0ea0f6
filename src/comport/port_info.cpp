#include "comport/port_info.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace corvel {

namespace {

namespace fs = std::filesystem;

std::optional<std::uint32_t> ParseHex(std::string_view s, std::size_t maxDigits) {
    if (s.empty() || s.size() > maxDigits) return std::nullopt;
    std::uint32_t v = 0;
    for (char c : s) {
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        if (d < 0) return std::nullopt;
        v = v * 16 + static_cast<std::uint32_t>(d);
    }
    return v;
}

std::string Hex4(std::uint16_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(v));
    return buf;
}

// A sysfs attribute: its first line, trimmed; empty when absent. Attributes are small, but a
// fake or damaged tree must not make us read a huge file.
std::string ReadAttribute(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    if (!f) return {};
    std::string line;
    char c;
    while (line.size() < 256 && f.get(c) && c != '\n') line.push_back(c);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\0'))
        line.pop_back();
    return line;
}

bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

}  // namespace

std::string UsbIdentity::ToText() const {
    if (Empty()) return {};
    std::string t = Hex4(vid) + ":" + Hex4(pid) + ":";
    if (interfaceNumber >= 0) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(interfaceNumber & 0xFF));
        t += buf;
    }
    return t + ":" + serial;
}

UsbIdentity UsbIdentity::FromText(std::string_view text) {
    UsbIdentity id;
    const std::size_t a = text.find(':');
    const std::size_t b = a == std::string_view::npos ? a : text.find(':', a + 1);
    const std::size_t c = b == std::string_view::npos ? b : text.find(':', b + 1);
    if (c == std::string_view::npos) return {};
    const auto vid = ParseHex(text.substr(0, a), 4);
    const auto pid = ParseHex(text.substr(a + 1, b - a - 1), 4);
    const std::string_view iface = text.substr(b + 1, c - b - 1);
    const auto ifNum = iface.empty() ? std::optional<std::uint32_t>(0) : ParseHex(iface, 2);
    if (!vid || !pid || !ifNum || (*vid == 0 && *pid == 0)) return {};
    id.vid = static_cast<std::uint16_t>(*vid);
    id.pid = static_cast<std::uint16_t>(*pid);
    id.interfaceNumber = iface.empty() ? -1 : static_cast<int>(*ifNum);
    id.serial = std::string(text.substr(c + 1));
    return id;
}

std::string DescribePort(const PortInfo& info) {
    std::string d;
    auto add = [&d](const std::string& part) {
        if (part.empty()) return;
        if (!d.empty()) d += ", ";
        d += part;
    };
    if (info.usb) {
        std::string who = info.manufacturer;
        if (!info.product.empty()) who += (who.empty() ? "" : " ") + info.product;
        add(who);
        if (!info.id.serial.empty()) add("serial " + info.id.serial);
        add("USB " + Hex4(info.id.vid) + ":" + Hex4(info.id.pid));
        if (info.id.interfaceNumber >= 0)
            add("interface " + std::to_string(info.id.interfaceNumber));
    }
    if (!info.driver.empty()) add("driver " + info.driver);
    return d;
}

std::string ShortDeviceName(const UsbIdentity& id) {
    std::string s = "USB " + Hex4(id.vid) + ":" + Hex4(id.pid);
    if (!id.serial.empty()) s += " (serial " + id.serial + ")";
    return s;
}

std::string ShortDeviceName(const PortInfo& info) {
    if (!info.usb) return info.name;
    if (info.product.empty()) return ShortDeviceName(info.id);
    std::string s = info.product;
    if (!info.id.serial.empty()) s += " (serial " + info.id.serial + ")";
    return s;
}

std::optional<std::string> FindPortByIdentity(const std::vector<PortInfo>& ports,
                                              const UsbIdentity& id) {
    if (id.Empty()) return std::nullopt;
    std::optional<std::string> found;
    int matches = 0;
    for (const PortInfo& p : ports) {
        if (!p.usb || !(p.id == id)) continue;
        ++matches;
        if (!found) found = p.name;
    }
    if (id.serial.empty() && matches != 1) return std::nullopt;
    return found;
}

namespace {

// The hex digits after key ("VID_") up to the next separator, in upper case.
std::optional<std::uint32_t> IdAfter(std::string_view s, std::string_view key, std::size_t digits) {
    for (std::size_t i = 0; i + key.size() <= s.size(); ++i) {
        bool same = true;
        for (std::size_t k = 0; k < key.size() && same; ++k)
            same = std::toupper(static_cast<unsigned char>(s[i + k])) == key[k];
        if (same) return ParseHex(s.substr(i + key.size(), digits), digits);
    }
    return std::nullopt;
}

// The part of an instance id after its second backslash: the serial number when the device
// reported one. Windows makes one up with '&' in it when it did not.
std::string SerialPart(std::string_view id) {
    const std::size_t a = id.find('\\');
    if (a == std::string_view::npos) return {};
    std::string_view rest = id.substr(a + 1);
    const std::size_t b = rest.find('\\');
    if (b == std::string_view::npos) return {};
    std::string_view serial = rest.substr(b + 1);
    if (serial.find('&') != std::string_view::npos) return {};
    return std::string(serial);
}

}  // namespace

UsbIdentity ParseWindowsDeviceId(std::string_view instanceId, std::string_view parentId) {
    UsbIdentity id;
    const auto vid = IdAfter(instanceId, "VID_", 4);
    const auto pid = IdAfter(instanceId, "PID_", 4);
    if (!vid || !pid) return {};
    id.vid = static_cast<std::uint16_t>(*vid);
    id.pid = static_cast<std::uint16_t>(*pid);
    if (const auto mi = IdAfter(instanceId, "MI_", 2)) id.interfaceNumber = static_cast<int>(*mi);
    // FTDI's bus driver puts the serial in the middle: VID_0403+PID_6001+A50285BIA.
    const std::size_t plus = instanceId.find('+');
    if (plus != std::string_view::npos) {
        std::string_view tail = instanceId.substr(plus + 1);
        const std::size_t p2 = tail.find('+');
        if (p2 != std::string_view::npos) {
            tail = tail.substr(p2 + 1);
            id.serial = std::string(tail.substr(0, tail.find_first_of("\\+")));
            return id;
        }
    }
    id.serial = id.interfaceNumber >= 0 ? SerialPart(parentId) : SerialPart(instanceId);
    return id;
}

std::string DescribeOpenRefusal(PortErrorKind kind, const std::string& osMessage) {
    switch (kind) {
        case PortErrorKind::NotFound:
            return "It does not exist any more.";
        case PortErrorKind::AccessDenied:
            return "Permission denied.";
        case PortErrorKind::Busy: {
            const std::string key = "in use by ";
            const std::size_t at = osMessage.find(key);
            if (at == std::string::npos) return "It is in use by another program.";
            return "It is in use by " + osMessage.substr(at + key.size()) + ".";
        }
        default:
            return {};
    }
}

PortInfo ReadSysfsPortInfo(const std::string& sysfsRoot, const std::string& portName) {
    PortInfo info;
    info.name = portName;
    std::string base = portName;
    const std::size_t slash = base.rfind('/');
    if (slash != std::string::npos) base = base.substr(slash + 1);
    if (base.empty()) return info;

    std::error_code ec;
    const fs::path link = fs::path(sysfsRoot) / "class" / "tty" / base / "device";
    fs::path device = fs::canonical(link, ec);
    if (ec) return info;
    fs::path driver = fs::canonical(device / "driver", ec);
    // Newer kernels put a port and a controller of their own "serial-base" bus between a UART's
    // tty and its device; the driver worth naming is the device's.
    for (int up = 0;
         up < 3 && !ec && driver.parent_path().parent_path().filename() == "serial-base"; ++up) {
        device = device.parent_path();
        driver = fs::canonical(device / "driver", ec);
    }
    if (!ec) info.driver = driver.filename().string();

    // Up from the tty's device: a USB-serial port (ttyUSB) sits below its interface, a CDC-ACM
    // tty is the interface itself; the USB device holding the ids is the interface's parent.
    fs::path p = device;
    for (int depth = 0; depth < 4 && p.has_relative_path(); ++depth, p = p.parent_path()) {
        if (info.id.interfaceNumber < 0 && Exists(p / "bInterfaceNumber")) {
            const auto n = ParseHex(ReadAttribute(p / "bInterfaceNumber"), 2);
            if (n) info.id.interfaceNumber = static_cast<int>(*n);
        }
        if (Exists(p / "idVendor")) {
            const auto vid = ParseHex(ReadAttribute(p / "idVendor"), 4);
            const auto pid = ParseHex(ReadAttribute(p / "idProduct"), 4);
            if (!vid || !pid) break;
            info.usb = true;
            info.id.vid = static_cast<std::uint16_t>(*vid);
            info.id.pid = static_cast<std::uint16_t>(*pid);
            info.id.serial = ReadAttribute(p / "serial");
            info.manufacturer = ReadAttribute(p / "manufacturer");
            info.product = ReadAttribute(p / "product");
            break;
        }
    }
    return info;
}

}  // namespace corvel
