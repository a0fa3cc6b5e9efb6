#pragma once
// What the tool's logic needs of the window it runs in. The main window
// implements it with its message area, progress bar and message boxes; tests
// implement it with a recorder. Logic below app/ reports only through this.

#include <chrono>
#include <string>
#include <thread>

enum class BoxIcon { Information, Warning, Error };

class Reporter {
public:
    virtual ~Reporter() = default;

    // Appends one whole line to the message area.
    virtual void message(const std::string& line) = 0;

    // A modal box with one OK button; returns when the user has closed it.
    virtual void box(const std::string& text, const std::string& caption, BoxIcon icon) = 0;

    // Lets pending window events (repaints, clicks, timers) run.
    virtual void process_events() = 0;

    // The progress bar. Setting the maximum below the minimum (or the
    // reverse) moves the other bound along, as the widget does.
    virtual void set_progress_min(int value) = 0;
    virtual void set_progress_max(int value) = 0;
    virtual void set_progress_position(int value) = 0;
    virtual int progress_position() const = 0;
    // Repaints the progress bar at once, without running other events.
    virtual void repaint_progress() = 0;

    // A Yes/No question; No is the default answer, and a reporter that
    // cannot ask anybody answers No.
    virtual bool ask_yes_no(const std::string& text, const std::string& caption) {
        (void)text;
        (void)caption;
        return false;
    }

    // True once the operation under way should end as soon as it can: the
    // window is closing, or the user interrupted the command line. Long
    // loops look at it after letting events run; what they leave behind is
    // reported like any other failure, never as success.
    virtual bool stop_requested() const { return false; }

    // The pauses a routine makes between attempts. A reporter that can be
    // interrupted ends the pause as soon as a stop is asked for, so that
    // the loop around it sees the stop at once instead of after the pause.
    virtual void pause(std::chrono::milliseconds duration) {
        std::this_thread::sleep_for(duration);
    }
};
