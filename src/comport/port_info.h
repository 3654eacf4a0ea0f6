#pragma once
// What sits behind a serial port: for a USB device its maker, product, serial number, vendor and
// product ids and interface; for others the driver. The identity (VID, PID, serial, interface)
// survives re-enumeration, so a board that comes back as ttyACM1 instead of ttyACM0, or as COM7
// instead of COM5, can be found again.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "comport/comport_io.h"

namespace corvel {

struct UsbIdentity {
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::string serial;
    int interfaceNumber = -1;  // -1: not known

    bool Empty() const { return vid == 0 && pid == 0; }
    bool operator==(const UsbIdentity&) const = default;

    // "VVVV:PPPP:II:serial" (hex ids; II empty when unknown). The serial goes last because it
    // may itself hold colons.
    std::string ToText() const;
    // Empty identity for anything that is not such a text.
    static UsbIdentity FromText(std::string_view text);
};

struct PortInfo {
    std::string name;  // as the port list shows it
    bool usb = false;
    UsbIdentity id;
    std::string manufacturer;
    std::string product;
    std::string driver;  // kernel or Windows driver / service name, when known
};

// One line for the port list: "Maker Product, serial S, USB 2E8A:000A, interface 0", or
// "driver 8250" for others, or empty when nothing is known.
std::string DescribePort(const PortInfo& info);
// The identity as a short text for the log and the status bar: "Product (serial S)".
std::string ShortDeviceName(const PortInfo& info);
std::string ShortDeviceName(const UsbIdentity& id);

// The port among ports whose device has this identity. An identity without a serial number
// matches only when exactly one port carries its ids and interface, so two identical boards
// without serials are never confused with each other.
std::optional<std::string> FindPortByIdentity(const std::vector<PortInfo>& ports,
                                              const UsbIdentity& id);

// Why a port would not open, as one sentence for the user ("It does not exist any more."), from
// what the port layer said; empty when the layer gave no useful reason.
std::string DescribeOpenRefusal(PortErrorKind kind, const std::string& osMessage);

// Linux: what sysfs under sysfsRoot says of the tty named like "/dev/ttyACM0" (or "ttyACM0").
PortInfo ReadSysfsPortInfo(const std::string& sysfsRoot, const std::string& portName);

// Windows: the USB identity in a device instance id such as "USB\\VID_2E8A&PID_000A&MI_00\\6&1&0&0"
// or "FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000"; parentId is the instance id of the device
// above it, which carries the serial number of a composite device's interface. Empty when the
// ids are not USB ones.
UsbIdentity ParseWindowsDeviceId(std::string_view instanceId, std::string_view parentId);

// The description of each named port on this system (one file per OS), in the same order.
std::vector<PortInfo> DescribeSystemPorts(const std::vector<std::string>& names);

}  // namespace corvel
