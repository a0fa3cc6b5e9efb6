#pragma once
// One serial line as a command works on it: the reporter that prints its
// lines (and keeps them for --json), the port with a count of the bytes it
// moved (for the progress bar's rate) and the motor command object. Every
// line of a gang has its own session, so nothing is shared between threads
// but the Output.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/output.h"
#include "common/reporter.h"

class serial;
class motor_com;

namespace cli {

class LineReporter : public Reporter {
public:
    LineReporter(Output& out, std::string prefix, bool yes);

    void message(const std::string& line) override;
    void box(const std::string& text, const std::string& caption, BoxIcon icon) override;
    void process_events() override {}
    void set_progress_min(int value) override;
    void set_progress_max(int value) override;
    void set_progress_position(int value) override;
    int progress_position() const override { return position_; }
    void repaint_progress() override {}
    // Nobody can be asked, so the answer comes from --yes, and the output
    // says which answer was given and why.
    bool ask_yes_no(const std::string& text, const std::string& caption) override;
    bool stop_requested() const override;
    void pause(std::chrono::milliseconds duration) override;

    // An error of the command line itself: stderr, and kept for --json.
    void error(const std::string& text);
    // The last line or error said, which tells how the line's work ended.
    const std::string& last_said() const { return last_said_; }

    // From now on the progress of this line is shown in the bar.
    void show_progress(const std::string& label, const std::atomic<std::uint64_t>* line_bytes);
    void end_progress();

    const std::vector<std::string>& lines() const { return lines_; }
    const std::vector<std::string>& errors() const { return errors_; }

private:
    void update_progress();

    Output& out_;
    std::string prefix_;
    bool yes_;
    std::vector<std::string> lines_;
    std::vector<std::string> errors_;
    std::string last_said_;
    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
    int slot_ = -1;
    const std::atomic<std::uint64_t>* line_bytes_ = nullptr;
};

class LineSession {
public:
    // `several`: other lines work at the same time, so the line's own files
    // (its trace) carry its port's name.
    LineSession(const Options& options, std::string port_name, Output& out, std::string prefix,
                bool several);
    ~LineSession();
    LineSession(const LineSession&) = delete;
    LineSession& operator=(const LineSession&) = delete;

    LineReporter& reporter() { return reporter_; }
    serial& port() { return *port_; }
    motor_com& motor() { return *motor_; }
    const std::string& port_name() const { return port_name_; }
    std::uint64_t line_bytes() const { return line_bytes_->load(); }

    // Opens the port at the chosen rate. When it cannot be opened, says why
    // on stderr and returns false.
    bool open();
    void show_progress() { reporter_.show_progress(port_name_, line_bytes_.get()); }

    // Runs `work`, the command's work on this line, as one operation
    // `command` in the line's trace (with --trace) and returns its exit code.
    // A trace that cannot be made ends the line before anything is sent; one
    // that could not be written to the end makes the exit code kExitFile.
    int run_traced(const std::string& command, const std::function<int()>& work);

private:
    std::string port_name_;
    LineReporter reporter_;
    std::string trace_path_;
    std::string trace_error_;  // why the trace could not be made
    std::shared_ptr<std::atomic<std::uint64_t>> line_bytes_;
    std::unique_ptr<serial> port_;
    std::unique_ptr<motor_com> motor_;
};

// The motor number of `--motor` for motor_com: "*" is 0, all motors.
int motor_number(const std::string& motor_text);

}  // namespace cli
