#include "app/command_line.h"

#include <string_view>

#include "common/program_info.h"

namespace {

constexpr std::string_view help_text =
    "Usage: korvane-util [--help | --version]\n"
    "\n"
    "Korvane Firmware Utility: the service tool for the Korvane stepper-motor\n"
    "controllers on one serial line. It sends console commands, tests the link,\n"
    "writes firmware through the controllers' bootloader (or with AutoFlash),\n"
    "clears the EEPROM, uploads programs, runs configuration scripts and saves\n"
    "memory dumps.\n"
    "\n"
    "It takes no arguments for normal use: it opens its window and asks for the\n"
    "serial port.\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the program's version and exit\n"
    "\n"
    "Hold Ctrl while starting to allow a second instance; hold Shift while the\n"
    "window appears to skip the port dialog. Access to a serial port needs\n"
    "membership of its group (on Debian: dialout).\n"
    "\n"
    "More in the manual page korvane-util(1).\n";

}  // namespace

std::optional<std::string> info_answer(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") return std::string(help_text);
        if (arg == "--version") return version_line("korvane-util");
    }
    return std::nullopt;
}
