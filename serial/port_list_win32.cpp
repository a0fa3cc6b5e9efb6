// Serial ports present on a Windows machine: every driver that provides a
// serial port enters its name into the SERIALCOMM map while the port exists.

#include "serial/port_list_win32.h"

#include <algorithm>

#include "serial/serial.h"

std::vector<std::string> list_registered_ports(HKEY root, const std::string& subkey) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        // The value names are the drivers' device names and are not needed,
        // but the call wants room for the longest one the registry allows.
        char value_name[16384];
        DWORD name_size = sizeof value_name;
        char data[256];
        DWORD data_size = sizeof data;
        DWORD type = 0;
        const LONG r = RegEnumValueA(key, index, value_name, &name_size, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data), &data_size);
        if (r == ERROR_NO_MORE_ITEMS) break;
        // A value too long for a port name is not one; the next may be.
        if (r == ERROR_MORE_DATA) continue;
        if (r != ERROR_SUCCESS) break;
        if (type != REG_SZ) continue;
        // The stored string may or may not carry its terminating zero.
        std::string name(data, data_size);
        name.erase(std::find(name.begin(), name.end(), '\0'), name.end());
        if (name.empty() || std::find(names.begin(), names.end(), name) != names.end()) continue;
        names.push_back(name);
    }
    RegCloseKey(key);
    std::sort(names.begin(), names.end(), natural_less);
    return names;
}

std::vector<std::string> list_serial_ports() {
    return list_registered_ports(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM");
}
