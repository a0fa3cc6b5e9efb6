#pragma once
// Port listing on Linux, with the sysfs tree as a parameter so tests can hand
// in a fake one.

#include <string>
#include <vector>

// The ttys under `sysfs_tty_dir` (normally /sys/class/tty) that have a real
// driver behind them, in natural order.
std::vector<std::string> list_serial_ports_in(const std::string& sysfs_tty_dir);
