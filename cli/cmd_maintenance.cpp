// Clear EEPROM (with an optional backup dump first), the program upload, the
// configuration script runner and the dumps.

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>

#include "bootloader/bootloader.h"
#include "cli/command_support.h"
#include "cli/commands.h"
#include "dump/dump.h"
#include "firmware/documents.h"
#include "motor/motor_com.h"
#include "motor/motor_id.h"
#include "script/script.h"
#include "serial/serial.h"

namespace cli {
namespace {

class FileDumpHost : public DumpHost {
public:
    explicit FileDumpHost(std::string path) : path_(std::move(path)) {}
    std::optional<std::string> ask_dump_file_name() override { return path_; }

private:
    std::string path_;
};

// Reads one dump range into `path`; the exit code says whether the file is
// whole and every address answered.
int DumpInto(LineSession& s, const std::string& path, DumpRange range, nlohmann::json& figures,
             const char* what) {
    s.show_progress();
    FileDumpHost host(path);
    const DumpResult result = DumpMemory(s.motor(), s.reporter(), host, range);
    s.reporter().end_progress();
    figures["file"] = path;
    figures["addresses"] = range.last - range.first + 1;
    figures["unanswered"] = result.unanswered;
    // A stopped dump has said so and written nothing.
    if (s.reporter().stop_requested()) return kExitController;
    if (!result.file_written) {
        s.reporter().error(std::string(what) + " could not be written to " + path);
        return kExitFile;
    }
    // The core's warning line has said how many and where; the file holds
    // zeros for them, so the dump is no success.
    if (result.unanswered > 0) {
        s.reporter().error(std::string(what) + " is incomplete: " + path +
                           " holds 00 for addresses that got no reply");
        return kExitController;
    }
    return kExitOk;
}

// The script runner's view of the command line: the file's lines, the log
// and repeat options, and "#tm" waits that a stop cuts short.
class OptionsScriptHost : public ScriptHost {
public:
    OptionsScriptHost(const Options& options, const std::vector<std::string>& lines,
                      motor_com& motor, Reporter& reporter)
        : options_(options), lines_(lines), motor_(motor), reporter_(reporter) {}

    int line_count() override { return static_cast<int>(lines_.size()); }
    std::string line(int index) override {
        return index >= 0 && index < static_cast<int>(lines_.size()) ? lines_[index]
                                                                     : std::string();
    }
    bool save_log_checked() override { return !options_.log.empty(); }
    bool log_send_checked() override { return true; }
    bool repeat_checked() override { return options_.repeat == 0 || passes_ < options_.repeat; }
    void set_motor_id_text(const std::string& text) override {
        motor_.set_id(choose_motor_id(text).id);
    }
    std::string timeout_box_text() override { return std::to_string(options_.timeout_ms); }
    // The log's name comes from --log; there is nobody to ask.
    std::optional<std::string> ask_log_file_name() override { return std::nullopt; }
    void wait_cmd_timer(int ms) override { reporter_.pause(std::chrono::milliseconds(ms)); }
    void pass_ended() override { ++passes_; }

    int passes() const { return passes_; }

private:
    const Options& options_;
    const std::vector<std::string>& lines_;
    motor_com& motor_;
    Reporter& reporter_;
    int passes_ = 0;
};

}  // namespace

CommandOutcome cmd_dump(const Options& options, Output& out) {
    const DumpRange range = options.dump_kind == "core"    ? kCoreDump
                            : options.dump_kind == "crash" ? kBootCrashDump
                                                           : kEEPromDump;
    const bool several = options.ports.size() > 1;
    return run_on_lines(options, out, [&](LineSession& s, LineOutcome& line) -> int {
        if (!s.open()) return kExitPort;
        return DumpInto(s, file_for_line(options.output, s.port_name(), several), range,
                        line.figures, "the dump");
    });
}

CommandOutcome cmd_clear_eeprom(const Options& options, Output& out) {
    const bool several = options.ports.size() > 1;
    return run_on_lines(options, out, [&](LineSession& s, LineOutcome& line) -> int {
        if (!s.open()) return kExitPort;
        if (!options.backup.empty()) {
            nlohmann::json backup = nlohmann::json::object();
            const int saved = DumpInto(s, file_for_line(options.backup, s.port_name(), several),
                                       kEEPromDump, backup, "the EEPROM backup");
            line.figures["backup"] = std::move(backup);
            if (saved != kExitOk) {
                if (!s.reporter().stop_requested()) {
                    s.reporter().error("the EEPROM was not cleared");
                }
                return saved;
            }
        }
        OptionsContext context(options, {});
        const bool cleared = ClearEepromButtonClick(s.port(), s.reporter(), context);
        line.figures["cleared"] = cleared;
        if (cleared) return kExitOk;
        s.reporter().error("the controller did not acknowledge the clear");
        return kExitController;
    });
}

CommandOutcome cmd_upload(const Options& options, Output& out) {
    LineReporter reporter(out, "", options.yes);
    std::optional<std::vector<std::string>> program = ReadPrgFile(options.file);
    if (!program) {
        return failed_before_start(reporter, kExitFile, cannot_read(options.file));
    }
    if (program->empty()) {
        return failed_before_start(reporter, kExitFile, options.file + " holds no program words");
    }
    CommandOutcome outcome =
        run_on_lines(options, out, [&](LineSession& s, LineOutcome& line) -> int {
            if (!s.open()) return kExitPort;
            s.show_progress();
            OptionsContext context(options, {}, *program);
            const bool uploaded = UploadProgram(s.port(), s.motor(), s.reporter(), context);
            line.figures["words"] = program->size();
            if (uploaded) return kExitOk;
            s.reporter().error("the program upload failed");
            return kExitController;
        });
    keep_lines(reporter, outcome);
    return outcome;
}

CommandOutcome cmd_run(const Options& options, Output& out) {
    LineReporter reporter(out, "", options.yes);
    std::optional<std::vector<std::string>> script = ReadTextLines(options.file);
    if (!script) {
        return failed_before_start(reporter, kExitFile, cannot_read(options.file));
    }
    const bool several = options.ports.size() > 1;
    CommandOutcome outcome =
        run_on_lines(options, out, [&](LineSession& s, LineOutcome& line) -> int {
            const std::string log = options.log.empty()
                                        ? std::string()
                                        : file_for_line(options.log, s.port_name(), several);
            if (!log.empty()) {
                // Found out before anything is sent: a run whose log cannot be
                // kept is not what was asked for.
                ScriptLog probe;
                if (!probe.open(log)) {
                    s.reporter().error("cannot write the script log " + log + ": " +
                                       std::strerror(errno));
                    return kExitFile;
                }
            }
            if (!s.open()) return kExitPort;
            OptionsScriptHost host(options, *script, s.motor(), s.reporter());
            ScriptRunner runner(s.port(), s.motor(), s.reporter(), host);
            runner.ScriptLogName = log;
            const bool completed = runner.RunConfigScript(0);
            line.figures["passes"] = host.passes();
            line.figures["unanswered_lines"] = runner.UnansweredLines;
            if (!log.empty()) line.figures["log"] = log;
            if (!completed) {
                if (!s.reporter().stop_requested()) {
                    s.reporter().error("the script run was stopped by an error");
                }
                return kExitController;
            }
            if (runner.UnansweredLines > 0) {
                s.reporter().error(std::to_string(runner.UnansweredLines) +
                                   " command lines got no reply (first: line " +
                                   std::to_string(runner.FirstUnansweredLine + 1) + ")");
                return kExitController;
            }
            return kExitOk;
        });
    keep_lines(reporter, outcome);
    return outcome;
}

}  // namespace cli
