// Port listing over a fake sysfs tree, and the extra ports put first.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "serial/port_list_linux.h"
#include "serial/serial.h"
#include "support/recorder.h"

namespace fs = std::filesystem;

namespace {

TEST(PortList, DevicesWithADriverInNaturalOrder) {
    const fs::path root = fs::temp_directory_path() / ("kfu_sysfs_" + std::to_string(getpid()));
    fs::remove_all(root);
    const fs::path driver = root / "devices" / "usb1";
    fs::create_directories(driver);
    const fs::path tty = root / "class" / "tty";
    for (const char* name : {"ttyS10", "ttyS2", "ttyACM0", "ttyS0", "ttyS1"})
        fs::create_directories(tty / name / "device");
    for (const char* name : {"tty1", "ptmx", "console"}) fs::create_directories(tty / name);
    fs::create_directories(tty / "ttyUSB0");
    fs::create_directory_symlink(driver, tty / "ttyUSB0" / "device");
    fs::create_directories(tty / "ttyUSB1");
    fs::create_directory_symlink(root / "gone", tty / "ttyUSB1" / "device");
    // A link that cannot be followed at all is skipped; the listing goes on.
    fs::create_directories(tty / "ttyUSB2");
    fs::create_symlink(tty / "ttyUSB2" / "device", tty / "ttyUSB2" / "device");
    std::ofstream(tty / "ttyS0" / "type") << "4\n";
    std::ofstream(tty / "ttyS1" / "type") << "0\n";  // a slot with no UART

    EXPECT_EQ(list_serial_ports_in(tty.string()),
              (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS2", "ttyS10", "ttyUSB0"}));
    EXPECT_TRUE(list_serial_ports_in((root / "none").string()).empty());
    EXPECT_TRUE(list_serial_ports_in((tty / "ttyS0" / "type").string()).empty());
    fs::remove_all(root);
}

TEST(PortList, ExtraPortsComeFirstAndTheListIsCleared) {
    Recorder rec;
    serial port(rec, "0", 100);
    std::vector<std::string> list = {"stale"};
    setenv("KFU_EXTRA_PORTS", "/tmp/kfu-sim-port::ttySIM", 1);
    port.list_ports(list);
    unsetenv("KFU_EXTRA_PORTS");
    ASSERT_GE(list.size(), 2u);
    EXPECT_EQ(list[0], "/tmp/kfu-sim-port");
    EXPECT_EQ(list[1], "ttySIM");
    EXPECT_EQ(std::count(list.begin(), list.end(), "stale"), 0);
    EXPECT_FALSE(port.is_open());
}

}  // namespace
