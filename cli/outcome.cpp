#include "cli/outcome.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "cli/platform.h"
#include "cli/records.h"
#include "cli/session.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

LineOutcome run_line(const Options& options, Output& out, const LineWork& work,
                     const std::string& port, bool several) {
    LineOutcome outcome;
    outcome.port = port;
    outcome.started = std::chrono::system_clock::now();
    const auto started = Clock::now();
    {
        LineSession session(options, port, out, several ? port + ": " : std::string(), several);
        outcome.exit_code = session.run_traced(options.command, [&] {
            int code = kExitOk;
            try {
                code = work(session, outcome);
            } catch (const std::exception& e) {
                // One line's trouble must not take the others down with it.
                session.reporter().error(std::string("unexpected failure: ") + e.what());
                code = kExitController;
            }
            if (session.reporter().stop_requested()) {
                session.reporter().error("stopped");
                code = stopped_exit_code();
            }
            return code;
        });
        outcome.lines = session.reporter().lines();
        outcome.errors = session.reporter().errors();
        // The session closes the port here, which gives the line its settings
        // back; that belongs to the line's time.
    }
    outcome.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    // The row goes out as soon as the line is done: a line's record does not
    // wait for the slowest line of the gang, nor is it lost with it.
    if (!options.record.empty()) outcome.record_error = append_line_record(options, outcome);
    return outcome;
}

std::string summary_table(const std::vector<LineOutcome>& lines) {
    std::size_t width = 4;
    for (const auto& l : lines) width = std::max(width, l.port.size());
    std::string table;
    char row[512];
    std::snprintf(row, sizeof row, "%-*s  %-8s  %s\n", static_cast<int>(width), "PORT", "RESULT",
                  "TIME");
    table += row;
    for (const auto& l : lines) {
        std::snprintf(row, sizeof row, "%-*s  %-8s  %.1f s\n", static_cast<int>(width),
                      l.port.c_str(), result_word(l.exit_code), l.seconds);
        table += row;
    }
    return table;
}

std::string line_name(const std::string& port) {
    std::string name = port;
    for (const char* device_folder : {"/dev/", "\\\\.\\"}) {
        const std::string prefix = device_folder;
        if (name.rfind(prefix, 0) == 0) name.erase(0, prefix.size());
    }
    std::replace(name.begin(), name.end(), '/', '-');
    std::replace(name.begin(), name.end(), '\\', '-');
    name.erase(0, name.find_first_not_of('-'));
    return name;
}

}  // namespace

const char* result_word(int exit_code) {
    switch (exit_code) {
        case kExitOk:
            return "ok";
        case kExitController:
            return "refused";
        case kExitUsage:
            return "usage";
        case kExitPort:
            return "port";
        case kExitFile:
            return "file";
        default:
            return "stopped";
    }
}

int stopped_exit_code() { return 128 + (stop_signal() != 0 ? stop_signal() : 2); }

int worst(int a, int b) { return std::max(a, b); }

nlohmann::json to_json(const std::string& command, const CommandOutcome& outcome) {
    nlohmann::json doc;
    doc["command"] = command;
    doc["result"] = result_word(outcome.exit_code);
    doc["exit_code"] = outcome.exit_code;
    doc["seconds"] = outcome.seconds;

    // A single line's lines and figures are the command's; with several,
    // every line keeps its own under "ports".
    nlohmann::json lines = outcome.lines;
    nlohmann::json errors = outcome.errors;
    nlohmann::json figures = outcome.figures;
    const bool single = outcome.line_outcomes.size() == 1;
    nlohmann::json ports = nlohmann::json::array();
    for (const LineOutcome& l : outcome.line_outcomes) {
        const std::string prefix = single ? std::string() : l.port + ": ";
        for (const auto& text : l.lines) lines.push_back(prefix + text);
        for (const auto& text : l.errors) errors.push_back(prefix + text);
        if (single) figures.update(l.figures);
        ports.push_back({{"port", l.port},
                         {"result", result_word(l.exit_code)},
                         {"exit_code", l.exit_code},
                         {"seconds", l.seconds},
                         {"lines", l.lines},
                         {"errors", l.errors},
                         {"figures", l.figures}});
    }
    doc["lines"] = std::move(lines);
    doc["errors"] = std::move(errors);
    doc["figures"] = std::move(figures);
    if (!outcome.line_outcomes.empty()) doc["ports"] = std::move(ports);
    return doc;
}

CommandOutcome run_on_lines(const Options& options, Output& out, const LineWork& work) {
    CommandOutcome outcome;
    const auto started = Clock::now();
    const bool several = options.ports.size() > 1;
    outcome.line_outcomes.resize(options.ports.size());
    if (!several) {
        outcome.line_outcomes[0] = run_line(options, out, work, options.ports[0], false);
    } else {
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < options.ports.size(); ++i) {
            threads.emplace_back([&, i] {
                outcome.line_outcomes[i] = run_line(options, out, work, options.ports[i], true);
            });
        }
        for (auto& t : threads) t.join();
    }
    for (const auto& l : outcome.line_outcomes)
        outcome.exit_code = worst(outcome.exit_code, l.exit_code);
    outcome.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    if (several && !out.json()) out.raw(summary_table(outcome.line_outcomes));
    return outcome;
}

std::string file_for_line(const std::string& path, const std::string& port, bool several) {
    if (!several) return path;
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    const bool has_extension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const std::string name = line_name(port);
    if (!has_extension) return path + "-" + name;
    return path.substr(0, dot) + "-" + name + path.substr(dot);
}

}  // namespace cli
