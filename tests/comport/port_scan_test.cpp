// The port scan against a fake sysfs tree and the extra-ports variable.

#include "comport/port_scan.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace corvel {
namespace {

namespace fs = std::filesystem;

// A fresh folder of its own under the system's temporary folder; create_directory refuses a name
// already taken (mkdtemp is POSIX only).
fs::path MakeTempFolder(const std::string& prefix) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path p = fs::temp_directory_path() / (prefix + std::to_string(random()));
        std::error_code ec;
        if (fs::create_directory(p, ec)) return p;
    }
    return {};
}

void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
    ::_putenv_s(name, value);  // an empty value removes the variable
#else
    if (*value)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
#endif
}

class FakeSysfs {
  public:
    FakeSysfs() : root(MakeTempFolder("corvel_sysfs_")) {}
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

#ifdef _WIN32
    SetEnv(kExtraPortsVariable, "COM97;COM98");
    const std::string first = "COM97", second = "COM98";
#else
    SetEnv(kExtraPortsVariable, "/dev/pts/97:/tmp/corvel-virtual");
    const std::string first = "/dev/pts/97", second = "/tmp/corvel-virtual";
#endif
    const auto ports = ScanSerialPorts();
    SetEnv(kExtraPortsVariable, "");
    ASSERT_GE(ports.size(), 2u);
    EXPECT_EQ(ports[ports.size() - 2], first);
    EXPECT_EQ(ports.back(), second);
    const auto without = ScanSerialPorts();
    EXPECT_EQ(without.size(), ports.size() - 2);
}

}  // namespace
}  // namespace corvel
