#pragma once
// Port listing on Windows, with the registry key as a parameter so tests can
// hand in a key of their own.

#include <windows.h>

#include <string>
#include <vector>

// The port names registered as the string values of `root`\`subkey` (the
// system's map is HKLM\HARDWARE\DEVICEMAP\SERIALCOMM), in natural order and
// each once.
std::vector<std::string> list_registered_ports(HKEY root, const std::string& subkey);
