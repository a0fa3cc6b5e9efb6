// Running the configuration script from the Configuration tab.

#include "script/script.h"
#include "window/window_logic.h"

namespace {

// Closing the window ends the program, but only once the click handler has
// returned; a repeating run would otherwise go on talking to the controllers
// from a window nobody sees, and the program would never end.
class WindowScriptHost : public ScriptHost {
public:
    WindowScriptHost(WindowLogic& logic, WindowView& view) : logic_(logic), view_(view) {}

    int line_count() override {
        // A closed window has no script left: the run ends at the next line.
        return closed() ? 0 : view_.line_count(Ctl::Config_View);
    }
    std::string line(int index) override { return view_.line(Ctl::Config_View, index); }
    bool save_log_checked() override { return view_.checked(Ctl::saveLogCheckBox); }
    bool log_send_checked() override { return view_.checked(Ctl::LogSendCheckBox); }
    bool repeat_checked() override { return !closed() && view_.checked(Ctl::RepeatCheckBox); }

    void set_motor_id_text(const std::string& text) override { logic_.set_motor_id_text(text); }
    std::string timeout_box_text() override { return view_.text(Ctl::TimeoutComboBox); }
    std::optional<std::string> ask_log_file_name() override {
        return view_.choose_file(FileDialog::ScriptLogDialog);
    }
    void wait_cmd_timer(int ms) override {
        view_.wait_cmd_timer(ms);
        // Cut short by the closing window: the timer is left as its own
        // handler would leave it.
        if (view_.timer_active(Timer::cmdTimer)) logic_.cmdTimerTimer();
    }

private:
    bool closed() const { return logic_.stop_requested(); }

    WindowLogic& logic_;
    WindowView& view_;
};

}  // namespace

void WindowLogic::run_script() {
    on_line("the script", LineUse::Click, [this] {
        WindowScriptHost host(*this, view_);
        ScriptRunner runner(*port_, *motor_, *this, host);
        runner.ScriptLogName = ScriptLogName;
        runner.ScriptRepeating = ScriptRepeating;
        runner.RunConfigScript(0);
        ScriptLogName = runner.ScriptLogName;
        ScriptRepeating = runner.ScriptRepeating;
    });
}

void WindowLogic::cmdTimerTimer() {
    view_.stop_timer(Timer::cmdTimer);
    view_.set_timer_interval(Timer::cmdTimer, 100);
}
