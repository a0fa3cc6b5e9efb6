// Serial devices present on a Linux machine, as sysfs shows them.

#include "serial/port_list_linux.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "serial/serial.h"

namespace fs = std::filesystem;

namespace {

// The serial core makes a tty for every port slot it reserves (ttyS0 to
// ttyS31 on a PC); a slot with no UART behind it reports the port type 0.
bool empty_uart_slot(const fs::path& entry) {
    std::ifstream type(entry / "type");
    if (!type) return false;
    int value = -1;
    type >> value;
    return type && value == 0;
}

}  // namespace

std::vector<std::string> list_serial_ports_in(const std::string& sysfs_tty_dir) {
    std::vector<std::string> names;
    // A directory that vanishes or cannot be read while it is listed ends the
    // list there; what was found so far is still listed.
    std::error_code ec;
    for (fs::directory_iterator it(sysfs_tty_dir, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path path = it->path();
        // Virtual terminals, pseudo-terminals and the console have no device
        // link; only ttys with a driver behind them do.
        std::error_code unreadable;
        if (!fs::exists(path / "device", unreadable)) continue;
        if (empty_uart_slot(path)) continue;
        names.push_back(path.filename().string());
    }
    std::sort(names.begin(), names.end(), natural_less);
    return names;
}

std::vector<std::string> list_serial_ports() { return list_serial_ports_in("/sys/class/tty"); }
