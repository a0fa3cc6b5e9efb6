#pragma once
// Configuration scripts: motor commands mixed with "#" directive lines, run
// line by line from the Configuration tab, with repetition and an optional
// script log.

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>

#include "common/reporter.h"

class serial;
class motor_com;

// What a script run reads from and asks of the window, at the moment it is
// needed: the user may edit the script and the check boxes while it runs.
class ScriptHost {
public:
    virtual ~ScriptHost() = default;

    // The lines of Config_View, read afresh at every step.
    virtual int line_count() = 0;
    virtual std::string line(int index) = 0;

    virtual bool save_log_checked() = 0;  // saveLogCheckBox
    virtual bool log_send_checked() = 0;  // LogSendCheckBox
    virtual bool repeat_checked() = 0;    // RepeatCheckBox

    // Sets the text of MotorID and runs its change handling, exactly as a
    // user's edit of the box does.
    virtual void set_motor_id_text(const std::string& text) = 0;

    // The text of the port dialog's TimeoutComboBox.
    virtual std::string timeout_box_text() = 0;

    // The file-save dialog for the script log; no value when cancelled.
    virtual std::optional<std::string> ask_log_file_name() = 0;

    // Starts cmdTimer with `ms` (always > 0) and returns once it has fired,
    // letting events run meanwhile. Must block on the event queue rather
    // than spin on process_events.
    virtual void wait_cmd_timer(int ms) = 0;

    // A pass has gone through the script; "Repeat" is asked next.
    virtual void pass_ended() {}
};

// A number in an if-line or its reply that cannot be read; it ends the run.
class ScriptError : public std::runtime_error {
public:
    explicit ScriptError(const std::string& text) : std::runtime_error(text), text_(text) {}
    // The whole text. It quotes a controller's reply, which may hold NUL
    // bytes, and what() would end at the first of them.
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// An append-only text file whose entries end in CR LF and reach the disk one
// by one, so that two writers appending to the same file keep their order.
class ScriptLog {
public:
    ScriptLog() = default;
    ~ScriptLog() { close(); }
    ScriptLog(const ScriptLog&) = delete;
    ScriptLog& operator=(const ScriptLog&) = delete;

    // Opens `name` for appending, creating it when missing. False (with the
    // reason in errno) when the name is empty or the file cannot be opened.
    bool open(const std::string& name);
    void close();
    bool is_open() const { return file_ != nullptr; }
    void write(const std::string& entry);

private:
    std::FILE* file_ = nullptr;
};

class ScriptRunner {
public:
    ScriptRunner(serial& port, motor_com& motor, Reporter& out, ScriptHost& host);

    // Kept between runs: the name of the script log (empty until the user
    // has chosen one), and whether "Repeat" was checked, as last seen after
    // a line or at the end of a run.
    std::string ScriptLogName;
    bool ScriptRepeating = false;

    // Carries out one directive line (trimmed) found at `index` and returns
    // where the run goes on: a line index above `index` and at most the
    // number of lines, or -1 to stop the run. Throws ScriptError when a
    // number in an if-line or its reply cannot be read.
    int ExecuteScriptLine(const std::string& line, int index);

    // Runs the script from line `start`, once or while "Repeat" is checked.
    // Never throws: an error ends the run and is shown in an error box. A
    // stop request ends it between lines or passes, with the stop line.
    // True when the run came to its end; false when a directive, an error
    // or a stop ended it. Events run between lines; whoever lets them run
    // keeps a second run from starting meanwhile (the window's line guard).
    bool RunConfigScript(int start);

    // Command lines of the last run that got no reply at all, and the index
    // of the first of them.
    int UnansweredLines = 0;
    int FirstUnansweredLine = -1;

private:
    int run_if_line(const std::string& line, int index, ScriptLog& log);
    // False when a directive stopped the run.
    bool run_passes(int start);
    void end_of_run();
    // The motor's query, first throwing away what arrived after a query that
    // got no reply: taken as the next reply, it would shift every reply after
    // it by one line.
    std::string query(const std::string& command);

    serial& port_;
    motor_com& motor_;
    Reporter& out_;
    ScriptHost& host_;
    ScriptLog run_log_;
    bool late_reply_possible_ = false;
};

// Removes leading and trailing characters with codes 0 to 32.
std::string trim_script_text(const std::string& text);
