#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <sstream>

#include "cli/platform.h"
#include "cli/records.h"
#include "common/int_text.h"
#include "common/program_info.h"

namespace cli {
namespace {

const char* const kFooter = R"(Exit codes:
  0    success
  1    the controller refused or did not answer
  2    usage error
  3    the port could not be opened or configured
  4    a file could not be read or written, or holds nothing usable (also a
       firmware file the write refuses: no program data, or unreadable lines
       without --yes)
  130  stopped by Ctrl+C (143: stopped by SIGTERM)
With --port given more than once, the exit code is the worst of the lines.

)";

// Motor numbers 1 ... 255, written back in plain decimal; "*" (all motors)
// only where the window lets it through.
CLI::Validator MotorNumber(bool all_allowed) {
    return CLI::Validator(
        [all_allowed](std::string& value) -> std::string {
            if (value == "*") {
                if (all_allowed) return {};
                return "this command needs one motor number (1 ... 255), not *";
            }
            const auto n = read_integer(value);
            if (!n || *n < 1 || *n > 255) {
                return "motor number must be 1 ... 255" + std::string(all_allowed ? " or *" : "");
            }
            value = std::to_string(*n);
            return {};
        },
        all_allowed ? "1..255|*" : "1..255");
}

struct LineOptions {
    bool several_ports = false;  // the gang commands
    bool port_required = true;
    bool all_motors = true;  // "*" allowed
    bool usb_compat = false;
    bool bootloader_baud = false;
    bool yes = false;
};

void AddOutputOptions(CLI::App* sub, Options& o) {
    sub->add_flag("--json", o.json, "print one JSON document with the result, lines and figures");
    sub->add_flag("-q,--quiet", o.quiet, "no progress bar");
}

// --baud, --timeout and --motor, which take the same values wherever they
// appear; only what they are for differs.
void AddLineSettings(CLI::App* sub, Options& o, bool all_motors, const char* baud_help,
                     const char* timeout_help, const char* motor_help) {
    sub->add_option("-b,--baud", o.baud, baud_help)
        ->capture_default_str()
        ->check(CLI::Range(1u, 4000000u));
    sub->add_option("-t,--timeout", o.timeout_ms, timeout_help)
        ->capture_default_str()
        ->check(CLI::Range(0u, 60000u));
    sub->add_option("-m,--motor", o.motor, motor_help)
        ->capture_default_str()
        ->check(MotorNumber(all_motors));
}

void AddLineOptions(CLI::App* sub, Options& o, const LineOptions& line) {
    auto* port =
        sub->add_option("-p,--port", o.ports,
                        line.several_ports ? "serial port (NAME or PATH); repeat it to work "
                                             "on several lines at once"
                                           : "serial port (NAME or PATH)");
    port->type_name("PORT")->expected(1)->allow_extra_args(false)->multi_option_policy(
        CLI::MultiOptionPolicy::TakeAll);
    if (line.port_required) port->required();
    AddLineSettings(sub, o, line.all_motors, "baud rate", "read time-out in ms", "motor number");
    if (line.usb_compat) {
        sub->add_flag_callback(
            "--usb-compat", [&o] { o.usb_compat = true; },
            "send 1536-byte frames in pieces of 512 bytes (the default, as in the window)");
        sub->add_flag_callback(
            "--no-usb-compat", [&o] { o.usb_compat = false; }, "send each frame in one piece");
    }
    if (line.bootloader_baud) {
        sub->add_flag_callback(
            "--bootloader-baud", [&o] { o.bootloader_baud = true; },
            "switch to 115200 baud for the bootloader and back to --baud afterwards (the "
            "default, as in the window)");
        sub->add_flag_callback(
            "--no-bootloader-baud", [&o] { o.bootloader_baud = false; },
            "stay at --baud for the bootloader");
    }
    sub->add_option("--trace", o.trace,
                    "record what goes over the line in FILE, for support (with several ports, "
                    "one file per port)")
        ->type_name("FILE");
    if (line.yes) {
        sub->add_flag("-y,--yes", o.yes,
                      "answer Yes when asked whether to write a file with unreadable lines");
    }
    AddOutputOptions(sub, o);
}

// The commands with what they accept. Building an option costs, and the
// program is started once per command by scripts, so only the options of
// the command asked for are built.
struct CommandEntry {
    const char* name;
    const char* description;
    void (*build)(CLI::App* sub, Options& o);
};

constexpr LineOptions kSingle{};
constexpr LineOptions kGang{true, true, true, false, false, false};
constexpr LineOptions kWriting{true, true, false, true, false, true};

const CommandEntry kCommandEntrys[] = {
    {"ports", "list the serial ports present",
     [](CLI::App* sub, Options& o) { AddOutputOptions(sub, o); }},
    {"send", "send commands to the motor, one reply per command",
     [](CLI::App* sub, Options& o) {
         AddLineOptions(sub, o, kSingle);
         sub->add_option("CMD", o.commands, "command text, e.g. VER")->required();
     }},
    {"test", "link test: send \"#N \" and show what comes back",
     [](CLI::App* sub, Options& o) { AddLineOptions(sub, o, kSingle); }},
    {"poll", "poll with \"@S\" until a controller answers \"@OK\"",
     [](CLI::App* sub, Options& o) {
         AddLineOptions(sub, o, kSingle);
         sub->add_option("--tries", o.tries, "give up after N polls (default: poll until stopped)")
             ->check(CLI::NonNegativeNumber);
     }},
    {"flash", "write a HEX file to a controller whose bootloader runs",
     [](CLI::App* sub, Options& o) {
         AddLineOptions(sub, o, kWriting);
         sub->add_option("FILE", o.file, "Intel HEX file")->required();
     }},
    {"autoflash", "start the bootloader, write a HEX file and restart the controller",
     [](CLI::App* sub, Options& o) {
         LineOptions line = kWriting;
         line.bootloader_baud = true;
         AddLineOptions(sub, o, line);
         sub->add_option("FILE", o.file, "Intel HEX file")->required();
     }},
    {"clear-eeprom", "clear the controller's EEPROM",
     [](CLI::App* sub, Options& o) {
         LineOptions line = kGang;
         line.all_motors = false;
         AddLineOptions(sub, o, line);
         sub->add_option("--backup", o.backup,
                         "dump the EEPROM into this file first; no clear unless it was written "
                         "completely");
     }},
    {"upload", "upload a controller program (.prg)",
     [](CLI::App* sub, Options& o) {
         AddLineOptions(sub, o, kSingle);
         sub->add_option("FILE", o.file, "program file")->required();
     }},
    {"run", "run a configuration script (.cfg)",
     [](CLI::App* sub, Options& o) {
         AddLineOptions(sub, o, kGang);
         sub->add_option("FILE", o.file, "configuration script")->required();
         sub->add_option("--log", o.log, "append the script log to this file");
         sub->add_option("--repeat", o.repeat, "run the script N times (0: until stopped)")
             ->capture_default_str()
             ->check(CLI::NonNegativeNumber);
     }},
    {"dump", "save an EEPROM, core or bootloader-crash dump",
     [](CLI::App* sub, Options& o) {
         AddLineOptions(sub, o, kGang);
         sub->add_option("KIND", o.dump_kind, "eeprom, core or crash")
             ->required()
             ->check(CLI::IsMember({"eeprom", "core", "crash"}));
         sub->add_option("-o,--output", o.output, "dump file (.eed)")->required();
     }},
    {"info", "pre-flight check of a HEX file: records, ranges, blocks and time per mode",
     [](CLI::App* sub, Options& o) {
         sub->add_option("FILE", o.file, "Intel HEX file")->required();
         AddLineSettings(sub, o, false, "baud rate of the estimate",
                         "read time-out in ms of the estimate", "motor number of the frames");
         AddOutputOptions(sub, o);
     }},
    {"scan", "link test on each motor number; list those answering",
     [](CLI::App* sub, Options& o) {
         AddLineOptions(sub, o, kSingle);
         sub->add_option("--from", o.scan_from, "first motor number")
             ->capture_default_str()
             ->check(CLI::Range(1, 255));
         sub->add_option("--to", o.scan_to, "last motor number")
             ->capture_default_str()
             ->check(CLI::Range(1, 255));
     }},
    {"trace", "print a wire trace, or the part of it one operation or time span holds",
     [](CLI::App* sub, Options& o) {
         sub->add_option("FILE", o.file, "the trace's first file")->required();
         sub->add_option("--op", o.trace_operation,
                         "only the records from each start of operation NAME to its end")
             ->type_name("NAME");
         sub->add_option_function<std::uint64_t>(
                "--from", [&o](const std::uint64_t& us) { o.trace_from_us = us; },
                "only records at or after US microseconds into the trace")
             ->type_name("US");
         sub->add_option_function<std::uint64_t>(
                "--to", [&o](const std::uint64_t& us) { o.trace_to_us = us; },
                "only records at or before US microseconds into the trace")
             ->type_name("US");
     }},
    {"records", "print a production record (kfu ... --record FILE) as a table",
     [](CLI::App* sub, Options& o) {
         sub->add_option("FILE", o.file, "the record file")->required();
         sub->add_option_function<std::string>(
                "--since",
                [&o](const std::string& text) {
                    o.records_since = read_record_time(text);
                    if (!o.records_since) {
                        throw CLI::ValidationError("--since",
                                                   "TIME must be like 2026-12-09, "
                                                   "2026-12-09T14:30 or "
                                                   "2026-12-09T14:30:00+01:00");
                    }
                },
                "only rows from TIME on (local time unless an offset is given)")
             ->type_name("TIME");
         sub->add_option("--port", o.records_port, "only rows of port P")->type_name("P");
         sub->add_flag("--failed", o.records_failed, "only rows whose result is not ok");
         AddOutputOptions(sub, o);
     }},
    {"doctor", "find out why nothing answers (every port present when --port is not given)",
     [](CLI::App* sub, Options& o) {
         LineOptions line = kSingle;
         line.port_required = false;
         AddLineOptions(sub, o, line);
     }},
};

}  // namespace

bool keeps_records(const std::string& command) {
    for (const char* name :
         {"flash", "autoflash", "clear-eeprom", "upload", "run", "dump", "send", "test"}) {
        if (command == name) return true;
    }
    return false;
}

bool works_on_several_lines(const std::string& command) {
    return command == "flash" || command == "autoflash" || command == "clear-eeprom" ||
           command == "dump" || command == "run";
}

ParseResult parse_command_line(int argc, const char* const* argv, Options& o) {
    CLI::App app{"Korvane Firmware Utility: the service tool's operations on the command line.",
                 "kfu"};
    std::string version = version_line("kfu");
    while (!version.empty() && version.back() == '\n') version.pop_back();
    app.set_version_flag("--version", version);
    app.require_subcommand(1);
    // On Windows CLI11 would read "/x" as an option: a command text or a path
    // that begins with a slash is an argument on every platform. Set before
    // the subcommands are added, which copy it from here.
    app.allow_windows_style_options(false);
    app.footer(kFooter + port_names_help());

    const std::string asked = argc > 1 ? argv[1] : "";
    bool known = false;
    for (const CommandEntry& entry : kCommandEntrys) {
        CLI::App* sub = app.add_subcommand(entry.name, entry.description);
        if (asked == entry.name) {
            entry.build(sub, o);
            if (keeps_records(entry.name)) {
                sub->add_option("--record", o.record,
                                "append one row per line to the production record FILE (CSV)")
                    ->type_name("FILE");
            }
            known = true;
        }
    }

    ParseResult result;
    // Without this, an unknown command would only be told "a subcommand is
    // required".
    if (!known && !asked.empty() && asked[0] != '-') {
        result.exit_code = kExitUsage;
        result.error = "unknown command " + asked + " (kfu --help lists them)\n";
        return result;
    }
    std::ostringstream out;
    std::ostringstream err;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        result.exit_code = app.exit(e, out, err);
        // Help and version count as success; everything else is a usage error.
        if (result.exit_code != 0) result.exit_code = kExitUsage;
        result.out_text = out.str();
        result.error = err.str();
        return result;
    }
    o.command = app.get_subcommands().front()->get_name();
    if (o.ports.size() > 1 && !works_on_several_lines(o.command)) {
        result.exit_code = kExitUsage;
        result.error = "--port may be given only once for " + o.command + "\n";
        return result;
    }
    if (o.command == "trace" && o.trace_from_us && o.trace_to_us &&
        *o.trace_from_us > *o.trace_to_us) {
        result.exit_code = kExitUsage;
        result.error = "--from must not be above --to\n";
        return result;
    }
    if (o.command == "scan" && o.scan_from > o.scan_to) {
        result.exit_code = kExitUsage;
        result.error = "--from must not be above --to\n";
        return result;
    }
    result.run = true;
    return result;
}

}  // namespace cli
