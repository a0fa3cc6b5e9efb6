#include <chrono>
#include <cstring>
#include <map>

#include "cli/commands.h"
#include "cli/platform.h"
#include "cli/records.h"

namespace cli {
namespace {

using Command = CommandOutcome (*)(const Options&, Output&);

const std::map<std::string, Command> kCommands = {
    {"ports", cmd_ports},     {"send", cmd_send},
    {"test", cmd_test},       {"poll", cmd_poll},
    {"scan", cmd_scan},       {"doctor", cmd_doctor},
    {"flash", cmd_flash},     {"autoflash", cmd_autoflash},
    {"info", cmd_info},       {"clear-eeprom", cmd_clear_eeprom},
    {"upload", cmd_upload},   {"run", cmd_run},
    {"dump", cmd_dump},       {"trace", cmd_trace},
    {"records", cmd_records},
};

bool asks_for_json(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) return true;
    }
    return false;
}

}  // namespace

int run_kfu(int argc, const char* const* argv, std::FILE* out, std::FILE* err, bool progress) {
    Options options;
    const ParseResult parsed = parse_command_line(argc, argv, options);
    if (!parsed.run) {
        if (std::fputs(parsed.out_text.c_str(), out) < 0 || std::fflush(out) != 0) {
            std::fputs("kfu: could not write to stdout\n", err);
            return kExitFile;
        }
        std::fputs(parsed.error.c_str(), err);
        if (parsed.exit_code != kExitOk && asks_for_json(argc, argv)) {
            CommandOutcome outcome;
            outcome.exit_code = parsed.exit_code;
            std::string error = parsed.error;
            while (!error.empty() && error.back() == '\n') error.pop_back();
            outcome.errors.push_back(error);
            std::fprintf(out, "%s\n", to_json("", outcome).dump(2).c_str());
        }
        return parsed.exit_code;
    }

    Output output(out, err, options.json, progress && !options.quiet);
    const auto wall_started = std::chrono::system_clock::now();
    const auto started = std::chrono::steady_clock::now();
    CommandOutcome outcome = kCommands.at(options.command)(options, output);
    if (stop_signalled()) outcome.exit_code = stopped_exit_code();
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!options.record.empty()) {
        // The controllers are done whatever becomes of their record; a record
        // that is missing only makes the exit code say so.
        const std::string failed = finish_records(options, outcome, wall_started);
        if (!failed.empty()) {
            const std::string said =
                "the record could not be written to " + options.record + ": " + failed;
            output.error("", said);
            outcome.errors.push_back(said);
            outcome.exit_code = worst(outcome.exit_code, kExitFile);
        }
    }
    // Replies and files may hold bytes that are no UTF-8; they must not cost
    // the document.
    if (options.json) {
        output.raw(to_json(options.command, outcome)
                       .dump(2, ' ', false, nlohmann::json::error_handler_t::replace) +
                   "\n");
    }
    if (output.output_failed()) {
        output.error("", "could not write everything to stdout");
        return worst(outcome.exit_code, kExitFile);
    }
    return outcome.exit_code;
}

}  // namespace cli
