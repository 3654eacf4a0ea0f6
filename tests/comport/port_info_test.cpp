// Port descriptions and device identity from a fake sysfs tree and from Windows instance ids.

#include "comport/port_info.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "comport/port_scan.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;

// A sysfs tree laid out as the kernel does it: class/tty/<name>/device links into devices/,
// USB ids on the device, the interface number on the interface below it.
class FakeSysfs {
  public:
    FakeSysfs() {
        std::random_device random;
        root = fs::temp_directory_path() / ("corvel-sysfs-" + std::to_string(random()));
        fs::create_directories(root / "class" / "tty");
        fs::create_directories(root / "bus" / "usb" / "drivers");
    }
    ~FakeSysfs() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    void Attr(const fs::path& dir, const std::string& name, const std::string& value) {
        fs::create_directories(dir);
        std::ofstream(dir / name) << value << "\n";
    }
    fs::path UsbDevice(const std::string& port, const std::string& vid, const std::string& pid,
                       const std::string& serial, const std::string& maker,
                       const std::string& product) {
        const fs::path d = root / "devices" / "pci0000:00" / "usb1" / port;
        Attr(d, "idVendor", vid);
        Attr(d, "idProduct", pid);
        if (!serial.empty()) Attr(d, "serial", serial);
        if (!maker.empty()) Attr(d, "manufacturer", maker);
        Attr(d, "product", product);
        return d;
    }
    fs::path Interface(const fs::path& device, int number, const std::string& driver) {
        const fs::path i = device / (device.filename().string() + ":1." + std::to_string(number));
        Attr(i, "bInterfaceNumber", "0" + std::to_string(number));
        Driver(i, driver);
        return i;
    }
    void Driver(const fs::path& dir, const std::string& driver) {
        const fs::path d = root / "bus" / "usb" / "drivers" / driver;
        fs::create_directories(d);
        fs::create_directory_symlink(d, dir / "driver");
    }
    void Tty(const std::string& name, const fs::path& device) {
        fs::create_directories(root / "class" / "tty" / name);
        fs::create_directory_symlink(device, root / "class" / "tty" / name / "device");
    }
    void RemoveTty(const std::string& name) { fs::remove_all(root / "class" / "tty" / name); }
    std::vector<PortInfo> Describe() {
        std::vector<PortInfo> out;
        for (const std::string& n : ScanSysfsSerialPorts(root.string()))
            out.push_back(ReadSysfsPortInfo(root.string(), n));
        return out;
    }

    fs::path root;
};

// sysfs is Linux's, and its links are what the reader follows.
#ifdef _WIN32
#define SKIP_WITHOUT_SYSFS() GTEST_SKIP() << "no sysfs here"
#else
#define SKIP_WITHOUT_SYSFS() (void)0
#endif

TEST(PortInfo, SysfsDescribesEachKindOfPort) {
    SKIP_WITHOUT_SYSFS();
    FakeSysfs sys;
    // A microcontroller's own CDC-ACM port on interface 2 of a composite device.
    const fs::path pico = sys.UsbDevice("1-1", "2e8a", "000a", "E66038B7", "Acme", "Widget");
    sys.Tty("ttyACM0", sys.Interface(pico, 2, "cdc_acm"));
    // A USB-UART bridge: its tty sits one level below the interface.
    const fs::path bridge = sys.UsbDevice("1-2", "0403", "6001", "A50285BI", "", "USB UART");
    const fs::path ifc = sys.Interface(bridge, 0, "ftdi_sio");
    fs::create_directories(ifc / "ttyUSB0");
    sys.Driver(ifc / "ttyUSB0", "ftdi_sio");
    sys.Tty("ttyUSB0", ifc / "ttyUSB0");
    // A UART on the mainboard, behind the serial-base port and controller of newer kernels.
    const fs::path uart = sys.root / "devices" / "pnp0" / "00:01";
    sys.Attr(uart, "id", "PNP0501");
    sys.Driver(uart, "serial");
    fs::create_directories(uart / "00:01:0" / "00:01:0.0");
    for (const char* d : {"ctrl", "port"})
        fs::create_directories(sys.root / "bus" / "serial-base" / "drivers" / d);
    fs::create_directory_symlink(sys.root / "bus" / "serial-base" / "drivers" / "ctrl",
                                 uart / "00:01:0" / "driver");
    fs::create_directory_symlink(sys.root / "bus" / "serial-base" / "drivers" / "port",
                                 uart / "00:01:0" / "00:01:0.0" / "driver");
    sys.Tty("ttyS0", uart / "00:01:0" / "00:01:0.0");
    sys.Attr(sys.root / "class" / "tty" / "ttyS0", "type", "4");

    const std::vector<PortInfo> ports = sys.Describe();
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].name, "/dev/ttyACM0");
    EXPECT_EQ(DescribePort(ports[0]),
              "Acme Widget, serial E66038B7, USB 2E8A:000A, interface 2, driver cdc_acm");
    EXPECT_EQ(ShortDeviceName(ports[0]), "Widget (serial E66038B7)");
    EXPECT_EQ(ports[1].name, "/dev/ttyS0");
    EXPECT_FALSE(ports[1].usb);
    EXPECT_EQ(DescribePort(ports[1]), "driver serial");
    EXPECT_EQ(DescribePort(ports[2]),
              "USB UART, serial A50285BI, USB 0403:6001, interface 0, driver ftdi_sio");

    // Names outside sysfs (ptys, links made by socat) are described by nothing.
    EXPECT_EQ(DescribePort(ReadSysfsPortInfo(sys.root.string(), "/dev/pts/3")), "");
    EXPECT_EQ(DescribePort(ReadSysfsPortInfo(sys.root.string(), "/tmp/board")), "");
}

TEST(PortInfo, BoardReEnumeratedUnderANewNumberIsFoundByItsIdentity) {
    SKIP_WITHOUT_SYSFS();
    FakeSysfs sys;
    const fs::path a = sys.UsbDevice("1-1", "2e8a", "000a", "AAA1", "Acme", "Widget");
    const fs::path b = sys.UsbDevice("1-3", "2e8a", "000a", "BBB2", "Acme", "Widget");
    sys.Tty("ttyACM0", sys.Interface(a, 0, "cdc_acm"));
    sys.Tty("ttyACM1", sys.Interface(b, 0, "cdc_acm"));
    const UsbIdentity remembered = UsbIdentity::FromText(sys.Describe()[0].id.ToText());
    EXPECT_EQ(remembered.ToText(), "2E8A:000A:00:AAA1");
    EXPECT_EQ(FindPortByIdentity(sys.Describe(), remembered), "/dev/ttyACM0");

    // Board A resets: it leaves, and comes back after B, as ttyACM2.
    sys.RemoveTty("ttyACM0");
    EXPECT_EQ(FindPortByIdentity(sys.Describe(), remembered), std::nullopt);
    sys.Tty("ttyACM2", a / "1-1:1.0");
    EXPECT_EQ(FindPortByIdentity(sys.Describe(), remembered), "/dev/ttyACM2");

    // Another interface of the same device is another port.
    UsbIdentity other = remembered;
    other.interfaceNumber = 2;
    EXPECT_EQ(FindPortByIdentity(sys.Describe(), other), std::nullopt);
}

TEST(PortInfo, TwinBoardsWithoutSerialNumbersAreNeverConfused) {
    PortInfo one{"/dev/ttyUSB0", true, {0x1a86, 0x7523, "", 0}, "", "USB Serial", "ch341"};
    PortInfo two = one;
    two.name = "/dev/ttyUSB1";
    const UsbIdentity id = one.id;
    EXPECT_EQ(FindPortByIdentity({one}, id), "/dev/ttyUSB0");
    EXPECT_EQ(FindPortByIdentity({one, two}, id), std::nullopt);
    EXPECT_EQ(FindPortByIdentity({one, two}, UsbIdentity{}), std::nullopt);
}

TEST(PortInfo, IdentityTextRoundTripsAndRefusesJunk) {
    const UsbIdentity id{0x0483, 0x5740, "with:colons", -1};
    EXPECT_EQ(UsbIdentity::FromText(id.ToText()), id);
    for (const char* junk : {"", "COM3", "0483:5740", "zz:5740::S", "0000:0000:00:S",
                             "12345:5740:00:S", "0483:5740:100:S"})
        EXPECT_TRUE(UsbIdentity::FromText(junk).Empty()) << junk;
}

TEST(PortInfo, WindowsInstanceIds) {
    // A composite device's interface: the serial is on its parent.
    UsbIdentity id = ParseWindowsDeviceId("USB\\VID_2E8A&PID_000A&MI_00\\6&2C5A3D8&0&0000",
                                          "USB\\VID_2E8A&PID_000A\\E66038B713");
    EXPECT_EQ(id.ToText(), "2E8A:000A:00:E66038B713");
    // A plain device with a serial of its own.
    id = ParseWindowsDeviceId("USB\\VID_10C4&PID_EA60\\0001", "");
    EXPECT_EQ(id.ToText(), "10C4:EA60::0001");
    // No serial reported: Windows makes up one with '&' in it, which is no identity.
    id = ParseWindowsDeviceId("USB\\VID_1A86&PID_7523\\5&1A2B3C&0&2", "");
    EXPECT_EQ(id.ToText(), "1A86:7523::");
    // FTDI's own bus driver.
    id = ParseWindowsDeviceId("FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "");
    EXPECT_EQ(id.ToText(), "0403:6001::A50285BIA");
    EXPECT_TRUE(ParseWindowsDeviceId("ACPI\\PNP0501\\1", "").Empty());
}

// The system's own description (sysfs, or SetupAPI under Windows and Wine) answers for every
// name, in order, whatever the name is.
TEST(PortInfo, SystemDescriptionKeepsEveryNameInOrder) {
    const std::vector<std::string> names = ScanSerialPorts();
    std::vector<std::string> asked = names;
    asked.insert(asked.end(), {"COM250", "/dev/corvel-none", ""});
    const std::vector<PortInfo> infos = DescribeSystemPorts(asked);
    ASSERT_EQ(infos.size(), asked.size());
    for (std::size_t i = 0; i < asked.size(); ++i) EXPECT_EQ(infos[i].name, asked[i]);
    EXPECT_FALSE(infos[names.size()].usb);
}

}  // namespace
}  // namespace corvel
