// Connection test, polling, the motor number box and the debug log.

#include "motor/debug_log.h"
#include "motor/link_test.h"
#include "motor/motor_com.h"
#include "motor/motor_id.h"
#include "window/window_logic.h"

void WindowLogic::test_con_BtnClick() {
    on_line("the connection test", LineUse::Click,
            [this] { test_connection(*port_, *this, motor_text()); });
}

void WindowLogic::pollClick() {
    if (view_.checked(Ctl::poll)) {
        view_.start_timer(Timer::poll_timer, kPollIntervalMs);
    } else {
        view_.stop_timer(Timer::poll_timer);
    }
}

void WindowLogic::poll_timerTimer() {
    PollCycle cycle;
    on_line("polling", LineUse::Tick, [this, &cycle] {
        cycle = poll_cycle(*port_, *this, motor_text());
        // A cycle without an answer is the usual case, no failure.
        if (cycle.detected) operation_result(true);
    });
    if (!cycle.detected) {
        // The pause of a failed read is taken by the timer, so the window
        // stays live meanwhile.
        const int next = cycle.pause_ms > 0 ? cycle.pause_ms : kPollIntervalMs;
        if (view_.timer_active(Timer::poll_timer) && view_.timer_interval(Timer::poll_timer) != next) {
            view_.set_timer_interval(Timer::poll_timer, next);
        }
        return;
    }
    // Stopped before the box, so no cycle runs while it is open.
    view_.stop_timer(Timer::poll_timer);
    view_.set_checked(Ctl::poll, false);
    box("Device detected", "Info", BoxIcon::Information);
    message("Device detected");
}

void WindowLogic::MotorIDChange() {
    const MotorIdChoice choice = choose_motor_id(motor_text());
    // Writing the corrected text back runs this handler again; the corrected
    // text is valid, so that run only selects the same motor.
    if (choice.text != motor_text()) view_.set_text(Ctl::MotorID, choice.text);
    motor_->set_id(choice.id);
}

void WindowLogic::set_motor_id_text(const std::string& text) {
    // An unchanged text changes nothing in the box; the handling runs all the same.
    if (motor_text() == text) {
        MotorIDChange();
    } else {
        view_.set_text(Ctl::MotorID, text);
    }
}

void WindowLogic::DebugLogCheckBoxClick() {
    if (view_.checked(Ctl::DebugLogCheckBox)) {
        view_.start_timer(Timer::DebugLogTimer, kDebugLogIntervalMs);
    } else {
        view_.stop_timer(Timer::DebugLogTimer);
    }
}

void WindowLogic::DebugLogTimerTimer() {
    const DebugLogTimerControl control{
        [this] { view_.stop_timer(Timer::DebugLogTimer); },
        [this] {
            if (view_.checked(Ctl::DebugLogCheckBox)) {
                view_.start_timer(Timer::DebugLogTimer, kDebugLogIntervalMs);
            }
        },
    };
    on_line("the debug log", LineUse::Tick, [this, &control] { debug_log_tick(*port_, *this, control); });
}
