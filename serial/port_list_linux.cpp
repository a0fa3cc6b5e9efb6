// Serial devices present on a Linux machine, as sysfs shows them.

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "common/ascii.h"
#include "serial/serial.h"

namespace fs = std::filesystem;

namespace {

// ttyS2 before ttyS10: runs of digits compare by value, everything else by
// character.
bool natural_less(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (is_digit(a[i]) && is_digit(b[j])) {
            std::size_t i_end = i;
            std::size_t j_end = j;
            while (i_end < a.size() && is_digit(a[i_end])) ++i_end;
            while (j_end < b.size() && is_digit(b[j_end])) ++j_end;
            // Compare values without converting: skip leading zeros, then the
            // longer run is the larger number.
            std::size_t i_sig = i;
            std::size_t j_sig = j;
            while (i_sig + 1 < i_end && a[i_sig] == '0') ++i_sig;
            while (j_sig + 1 < j_end && b[j_sig] == '0') ++j_sig;
            const std::size_t i_len = i_end - i_sig;
            const std::size_t j_len = j_end - j_sig;
            if (i_len != j_len) return i_len < j_len;
            const int cmp = a.compare(i_sig, i_len, b, j_sig, j_len);
            if (cmp != 0) return cmp < 0;
            i = i_end;
            j = j_end;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
    return a < b;
}

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

std::vector<std::string> list_serial_ports(const std::string& sysfs_tty_dir) {
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
