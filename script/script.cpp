#include "script/script.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/ascii.h"
#include "common/int_text.h"
#include "common/stop.h"
#include "motor/motor_com.h"
#include "serial/serial.h"
#include "serial/wire_trace.h"

namespace {

constexpr int kRunTimeoutMs = 200;
constexpr int kDefaultWaitMs = 100;
const char* const kRunName = "the script";

bool begins_with(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::int32_t script_integer(const std::string& text) {
    const auto value = read_integer(text);
    if (!value) throw ScriptError("'" + text + "' is not a valid integer value");
    return *value;
}

std::string drop_one_plus(std::string text) {
    if (!text.empty() && text.front() == '+') text.erase(0, 1);
    return text;
}

// The text strictly between `from` and `to`, empty when either is missing or
// they stand in the wrong order.
std::string between(const std::string& text, std::size_t from, std::size_t to) {
    if (from == std::string::npos || to == std::string::npos || to <= from) return {};
    return text.substr(from + 1, to - from - 1);
}

// Where the block opened at line `index` ends: the index of its "#}" line
// (-1 when there is none), or the first nested if-line without its "{".
struct BlockEnd {
    int closing = -1;
    int broken_at = -1;
};

BlockEnd find_block_end(ScriptHost& host, int index) {
    BlockEnd end;
    int depth = 1;
    for (int i = index + 1; i < host.line_count() && end.closing < 0; ++i) {
        const std::string inner = trim_script_text(host.line(i));
        if (begins_with(inner, "#if")) {
            if (inner.back() != '{') {
                end.broken_at = i;
                return end;
            }
            ++depth;
        } else if (begins_with(inner, "#}")) {
            if (--depth == 0) end.closing = i;
        }
    }
    return end;
}

// "#ifXX(command, value){": the command to query and the value to compare
// its reply with.
struct IfCondition {
    std::string command;
    std::string value_text;
};

IfCondition read_condition(const std::string& line) {
    const std::size_t open_at = line.find('(');
    const std::size_t comma_at = line.find(',');
    const std::size_t close_at = line.find(')');
    return {trim_script_text(between(line, open_at, comma_at)),
            drop_one_plus(trim_script_text(between(line, comma_at, close_at)))};
}

// Whether the comparison the if-line names holds; no value for a name it
// does not know.
std::optional<bool> compare(const std::string& line, std::int32_t number, std::int32_t value) {
    if (begins_with(line, "#iflt")) return number < value;
    if (begins_with(line, "#ifgt")) return number > value;
    if (begins_with(line, "#ifeq")) return number == value;
    if (begins_with(line, "#ifneq")) return number != value;
    return std::nullopt;
}

}  // namespace

std::string trim_script_text(const std::string& text) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin])) ++begin;
    while (end > begin && blank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool ScriptLog::open(const std::string& name) {
    close();
    if (name.empty()) {
        errno = ENOENT;
        return false;
    }
    // Binary append: the CR LF line end is written by hand, and O_APPEND keeps
    // the runner's and the interpreter's entries in the order they were made.
    file_ = std::fopen(name.c_str(), "ab");
    return file_ != nullptr;
}

void ScriptLog::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

void ScriptLog::write(const std::string& entry) {
    if (!file_) return;
    std::fwrite(entry.data(), 1, entry.size(), file_);
    std::fputs("\r\n", file_);
    std::fflush(file_);
}

ScriptRunner::ScriptRunner(serial& port, motor_com& motor, Reporter& out, ScriptHost& host)
    : port_(port), motor_(motor), out_(out), host_(host) {}

int ScriptRunner::ExecuteScriptLine(const std::string& line, int index) {
    ScriptLog log;
    if (host_.save_log_checked()) log.open(ScriptLogName);
    const auto entry = [&](const std::string& text) {
        if (host_.save_log_checked()) log.write(text);
    };

    const std::string keyword_line = ascii_lower(line);
    if (begins_with(keyword_line, "#motor")) {
        const std::string number = trim_script_text(line.substr(6));
        host_.set_motor_id_text(number);
        entry("<- motor: " + number);
        return index + 1;
    }
    if (begins_with(keyword_line, "#output")) {
        const std::string text = line.substr(7);
        out_.message("-> " + text);
        entry("<- " + text);
        return index + 1;
    }
    if (begins_with(keyword_line, "#tm")) {
        const std::string time_text = trim_script_text(line.substr(3));
        const int wait_ms = read_integer_or(time_text, kDefaultWaitMs);
        if (host_.log_send_checked()) out_.message("== Timer " + time_text);
        // A timer of 0 ms or less would never fire; such a wait is no wait.
        if (wait_ms > 0) host_.wait_cmd_timer(wait_ms);
        entry("==tm" + std::to_string(wait_ms));
        return index + 1;
    }
    if (begins_with(keyword_line, "#if")) return run_if_line(line, index, log);
    return index + 1;
}

int ScriptRunner::run_if_line(const std::string& line, int index, ScriptLog& log) {
    const auto entry = [&](const std::string& text) {
        if (host_.save_log_checked()) log.write(text);
    };
    const auto missing_brace = [&](int at) {
        out_.message("Missing '{' at end of Line " + std::to_string(at));
        return -1;
    };

    entry("==" + line);
    if (line.empty() || line.back() != '{') return missing_brace(index);

    // Find the closing line before anything is sent, so that a broken nested
    // block stops the run whatever the condition turns out to be.
    const BlockEnd end = find_block_end(host_, index);
    if (end.broken_at >= 0) return missing_brace(end.broken_at);

    const IfCondition condition = read_condition(line);
    const std::string& command = condition.command;
    if (host_.log_send_checked()) out_.message("-> " + command);
    entry("->" + command);
    const std::string reply = query(command);
    out_.message("<- " + reply);
    entry("->" + reply);

    // The reply repeats the command ahead of its number.
    const std::string number_text = drop_one_plus(
        trim_script_text(reply.size() > command.size() ? reply.substr(command.size()) : ""));
    const std::int32_t number = script_integer(number_text);
    const std::int32_t value = script_integer(condition.value_text);

    const std::optional<bool> holds = compare(line, number, value);
    if (!holds) {
        out_.message("Unkown IF Statement type in Line: " + std::to_string(index));
        return -1;
    }
    entry(*holds ? "if-result: true" : "if-result: false");
    if (*holds) return index + 1;
    // Without a closing line there is nothing to skip to: the pass ends.
    return end.closing >= 0 ? end.closing : std::max(host_.line_count(), index + 1);
}

std::string ScriptRunner::query(const std::string& command) {
    if (late_reply_possible_ && port_.is_open()) port_.discard_waiting();
    std::string reply = motor_.query(command);
    late_reply_possible_ = !motor_.replied();
    return reply;
}

bool ScriptRunner::RunConfigScript(int start) {
    UnansweredLines = 0;
    FirstUnansweredLine = -1;

    std::string error;
    bool completed = false;
    try {
        out_.set_progress_max(host_.line_count());
        out_.set_progress_position(start);
        port_.flush_input();
        port_.set_timeout(kRunTimeoutMs);
        completed = run_passes(start);
    } catch (const ScriptError& e) {
        error = e.text();
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "Unknown error while running the script";
    }
    try {
        end_of_run();
    } catch (const std::exception& e) {
        if (error.empty()) error = e.what();
    } catch (...) {
        if (error.empty()) error = "Unknown error while ending the script";
    }
    if (!error.empty()) out_.box(error, "Error", BoxIcon::Error);
    return completed && error.empty();
}

bool ScriptRunner::run_passes(int start) {
    bool warned_about_log = false;
    bool asked_for_log = false;
    for (;;) {
        out_.set_progress_position(0);
        if (host_.save_log_checked()) {
            // A repeating run goes on with the log it has. With none chosen
            // yet there is nothing to go on with, and "Save Log" would be
            // ignored without a word; then the question is asked once a run.
            if (!ScriptRepeating || (ScriptLogName.empty() && !asked_for_log)) {
                asked_for_log = true;
                if (auto name = host_.ask_log_file_name()) ScriptLogName = *name + ".log";
            }
            run_log_.close();
            // A cancelled dialog is the user's choice; a chosen log that cannot
            // be written would otherwise be lost without a word.
            if (!ScriptLogName.empty() && !run_log_.open(ScriptLogName) && !warned_about_log) {
                out_.message("Error: Could not open script log " + ScriptLogName + ": " +
                             std::strerror(errno));
                warned_about_log = true;
            }
        }
        const auto entry = [&](const std::string& text) {
            if (host_.save_log_checked()) run_log_.write(text);
        };

        for (int index = start; index < host_.line_count();) {
            out_.process_events();
            if (stop_here(out_, kRunName)) return false;
            if (index >= host_.line_count()) break;
            const std::string raw = host_.line(index);
            int next = index + 1;
            if (!raw.empty()) {
                const std::string text = trim_script_text(raw);
                TraceOperation traced(port_, "script-line",
                                      "line " + std::to_string(index + 1) + ": " + text);
                if (!text.empty() && text.front() == '#') {
                    const int result = ExecuteScriptLine(text, index);
                    if (result == -1) return false;
                    // Never step backwards or stand still, whatever comes back.
                    next = std::max(result, index + 1);
                } else {
                    const std::string reply = query(text);
                    if (reply.empty() && UnansweredLines++ == 0) FirstUnansweredLine = index;
                    if (host_.log_send_checked()) {
                        entry("-> " + text);
                        out_.message("-> " + text);
                    }
                    entry("<- " + reply);
                    out_.message("<- " + reply);
                    traced.set_text("<- " + reply);
                }
            }
            out_.set_progress_position(0);
            ScriptRepeating = host_.repeat_checked();
            index = next;
        }

        host_.pass_ended();
        out_.process_events();
        if (!host_.repeat_checked()) return true;
        if (stop_here(out_, kRunName)) return false;
        // A further pass appends to the log chosen for this run, also when the
        // pass before had no line that could record "Repeat".
        ScriptRepeating = true;
    }
}

void ScriptRunner::end_of_run() {
    run_log_.close();
    // A run ended with "Repeat" unchecked must not spare the next run its
    // question for a log file, even when no line of its passes was left to
    // record that (an empty script, or "Repeat" unchecked after the last line).
    ScriptRepeating = host_.repeat_checked();
    const auto shown = read_integer(host_.timeout_box_text());
    port_.set_timeout(shown && *shown >= 0 ? static_cast<std::uint32_t>(*shown) : kRunTimeoutMs);
}
