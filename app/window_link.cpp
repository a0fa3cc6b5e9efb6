// Connection test, polling, the motor number box and the debug log.

#include <QCheckBox>
#include <QComboBox>
#include <QTimer>

#include "app/main_window.h"
#include "motor/debug_log.h"
#include "motor/link_test.h"
#include "motor/motor_com.h"
#include "motor/motor_id.h"

void Tmain_window::test_con_BtnClick() {
    on_line("the connection test", LineUse::Click,
            [this] { test_connection(*port_, *this, motor_text()); });
}

void Tmain_window::pollClick() {
    if (poll->isChecked()) {
        poll_timer->start(kPollIntervalMs);
    } else {
        poll_timer->stop();
    }
}

void Tmain_window::poll_timerTimer() {
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
        if (poll_timer->isActive() && poll_timer->interval() != next) poll_timer->setInterval(next);
        return;
    }
    // Stopped before the box, so no cycle runs while it is open.
    poll_timer->stop();
    poll->setChecked(false);
    box("Device detected", "Info", BoxIcon::Information);
    message("Device detected");
}

void Tmain_window::MotorIDChange() {
    const MotorIdChoice choice = choose_motor_id(motor_text());
    // Writing the corrected text back runs this handler again; the corrected
    // text is valid, so that run only selects the same motor.
    if (choice.text != motor_text()) MotorID->setEditText(from_bytes(choice.text));
    motor_->set_id(choice.id);
}

void Tmain_window::DebugLogCheckBoxClick() {
    if (DebugLogCheckBox->isChecked()) {
        DebugLogTimer->start();
    } else {
        DebugLogTimer->stop();
    }
}

void Tmain_window::DebugLogTimerTimer() {
    const DebugLogTimerControl control{
        [this] { DebugLogTimer->stop(); },
        [this] {
            if (DebugLogCheckBox->isChecked()) DebugLogTimer->start();
        },
    };
    on_line("the debug log", LineUse::Tick, [this, &control] { debug_log_tick(*port_, *this, control); });
}
