#pragma once
// The command line of `kfu`: what was asked for, parsed and checked.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// Exit codes. A stopped operation ends with 128 + the signal's number.
enum ExitCode : int {
    kExitOk = 0,
    kExitController = 1,  // the controller refused or did not answer
    kExitUsage = 2,
    kExitPort = 3,  // the port could not be opened or configured
    kExitFile = 4,  // a file could not be read or written, or holds nothing usable
};

struct Options {
    std::string command;
    std::vector<std::string> ports;
    std::uint32_t baud = 115200;
    std::uint32_t timeout_ms = 100;
    std::string motor = "1";  // 1 ... 255 in decimal, or "*" for all motors
    // As the window's "USB Compatibility" and "use 115200 Baud for
    // Bootloader" boxes, which start checked.
    bool usb_compat = true;
    bool bootloader_baud = true;
    bool json = false;
    bool quiet = false;
    bool yes = false;
    // The wire trace of every line the command works on; empty: none.
    std::string trace;
    // The production record the command appends its rows to; empty: none.
    std::string record;

    std::vector<std::string> commands;  // send
    int tries = 0;                      // poll: 0 polls until a device answers
    std::string file;                   // flash, autoflash, upload, run, info
    std::string backup;                 // clear-eeprom
    std::string log;                    // run
    int repeat = 1;                     // run: passes, 0 repeats until stopped
    std::string dump_kind;              // dump: eeprom, core or crash
    std::string output;                 // dump
    int scan_from = 1;
    int scan_to = 255;
    // trace: the records kept when the trace is read back
    std::string trace_operation;
    std::optional<std::uint64_t> trace_from_us;
    std::optional<std::uint64_t> trace_to_us;
    // records: the rows shown
    std::optional<std::time_t> records_since;
    std::string records_port;
    bool records_failed = false;
};

struct ParseResult {
    bool run = false;  // false: answer with the texts and the exit code below
    int exit_code = kExitOk;
    std::string out_text;  // help or version
    std::string error;     // a usage error
};

// Parses the arguments into `options`.
ParseResult parse_command_line(int argc, const char* const* argv, Options& options);

// The commands that work on several lines at once when --port is given more
// than once.
bool works_on_several_lines(const std::string& command);

// The commands that append to a production record with --record.
bool keeps_records(const std::string& command);

}  // namespace cli
