// The port scan against a fake sysfs tree and the extra-ports variable.

#include "comport/port_scan.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace corvel {
namespace {

namespace fs = std::filesystem;

class FakeSysfs {
  public:
    FakeSysfs() {
        char tmpl[] = "/tmp/corvel_sysfs_XXXXXX";
        if (::mkdtemp(tmpl)) root = tmpl;
    }
    ~FakeSysfs() { fs::remove_all(root); }
    // A tty entry; with a device link when withDevice, and a "type" attribute when type >= 0.
    void Tty(const std::string& name, bool withDevice, int type = -1) {
        const fs::path dir = root / "class" / "tty" / name;
        fs::create_directories(dir);
        if (withDevice) fs::create_directories(dir / "device");
        if (type >= 0) std::ofstream(dir / "type") << type << "\n";
    }
    fs::path root;
};

TEST(PortScan, SysfsListsRealSerialDevicesInNaturalOrder) {
    FakeSysfs sys;
    ASSERT_FALSE(sys.root.empty());
    EXPECT_TRUE(ScanSysfsSerialPorts(sys.root.string()).empty());  // no class/tty at all

    sys.Tty("ttyUSB10", true);
    sys.Tty("ttyUSB2", true);
    sys.Tty("ttyACM0", true);
    sys.Tty("ttyS0", true, 4);  // a 16550A answers
    sys.Tty("ttyS1", true, 0);  // legacy slot, nothing fitted
    sys.Tty("ttyS3", true);     // no type attribute: cannot tell, leave it out
    sys.Tty("ttyS12", true, 4);
    sys.Tty("tty0", false);  // virtual consoles have no device
    sys.Tty("ptmx", false);
    sys.Tty("ttyAMA0", true);  // an on-chip UART
    const std::vector<std::string> want = {"/dev/ttyACM0", "/dev/ttyAMA0", "/dev/ttyS0",
                                           "/dev/ttyS12",  "/dev/ttyUSB2", "/dev/ttyUSB10"};
    EXPECT_EQ(ScanSysfsSerialPorts(sys.root.string()), want);
    EXPECT_EQ(ScanSysfsSerialPorts(sys.root.string()), want);  // stable
}

TEST(PortScan, ExtraPortsAreSplitMergedAndReadFromTheEnvironment) {
    EXPECT_EQ(SplitPortList("", ':'), std::vector<std::string>{});
    EXPECT_EQ(SplitPortList("::/dev/pts/3::/tmp/a:", ':'),
              (std::vector<std::string>{"/dev/pts/3", "/tmp/a"}));
    EXPECT_EQ(SplitPortList("COM10;COM11", ';'), (std::vector<std::string>{"COM10", "COM11"}));
    EXPECT_EQ(MergePortLists({"/dev/ttyUSB0", "/dev/pts/3"}, {"/dev/pts/3", "/dev/pts/4"}),
              (std::vector<std::string>{"/dev/ttyUSB0", "/dev/pts/3", "/dev/pts/4"}));

    ::setenv(kExtraPortsVariable, "/dev/pts/97:/tmp/corvel-virtual", 1);
    const auto ports = ScanSerialPorts();
    ::unsetenv(kExtraPortsVariable);
    ASSERT_GE(ports.size(), 2u);
    EXPECT_EQ(ports[ports.size() - 2], "/dev/pts/97");
    EXPECT_EQ(ports.back(), "/tmp/corvel-virtual");
    const auto without = ScanSerialPorts();
    EXPECT_EQ(without.size(), ports.size() - 2);
}

}  // namespace
}  // namespace corvel
