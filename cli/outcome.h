#pragma once
// What a command leaves behind: its exit code, the lines it printed and the
// figures it measured, per line and as a whole, and the JSON document made
// of them.

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/output.h"

namespace cli {

class LineSession;

struct LineOutcome {
    std::string port;
    std::chrono::system_clock::time_point started;
    int exit_code = kExitOk;
    double seconds = 0;
    std::vector<std::string> lines;
    std::vector<std::string> errors;
    nlohmann::json figures = nlohmann::json::object();
    // Why the line's row of the production record could not be written.
    std::string record_error;
};

struct CommandOutcome {
    int exit_code = kExitOk;
    double seconds = 0;
    // Lines and errors of the command itself, not of one serial line.
    std::vector<std::string> lines;
    std::vector<std::string> errors;
    nlohmann::json figures = nlohmann::json::object();
    std::vector<LineOutcome> line_outcomes;  // one per --port, in their order
};

// "ok", "refused", "usage", "port", "file" or "stopped".
const char* result_word(int exit_code);
// The exit code after a stop signal: 128 + its number.
int stopped_exit_code();
// The worse of two exit codes (the larger one).
int worst(int a, int b);

nlohmann::json to_json(const std::string& command, const CommandOutcome& outcome);

// The work of one command on one line. It opens the port itself, so that it
// can check its files before anything is sent, and returns the exit code.
using LineWork = std::function<int(LineSession& session, LineOutcome& outcome)>;

// Runs `work` on every port given, all at once when there are several (one
// thread each, nothing shared but `out`), and collects their outcomes. With
// several ports every line's output carries its port's name, and a summary
// table ends the output. A stop signal turns every line's exit code into
// the stopped one.
CommandOutcome run_on_lines(const Options& options, Output& out, const LineWork& work);

// `path` for the line on `port` when several lines write files: the port's
// name goes before the extension ("dump.eed" -> "dump-ttyUSB0.eed").
std::string file_for_line(const std::string& path, const std::string& port, bool several);

}  // namespace cli
