#include "window/window_logic.h"

#include <algorithm>
#include <vector>

#include "common/int_text.h"
#include "common/version.h"
#include "firmware/flashmem.h"
#include "motor/motor_com.h"
#include "motor/port_settings.h"
#include "serial/serial.h"
#include "serial/wire_trace.h"

namespace {

// The operations' names in the wire trace, by the name the line guard knows
// them by.
std::string trace_name(const std::string& who) {
    static const struct {
        const char* who;
        const char* name;
    } kNames[] = {
        {"the command console", "console"},
        {"the connection test", "test"},
        {"polling", "poll"},
        {"the debug log", "debug-log"},
        {"the firmware write", "write"},
        {"AutoFlash", "autoflash"},
        {"Clear EEPROM", "clear"},
        {"the program upload", "upload"},
        {"the script", "script"},
        {"the dump", "dump"},
    };
    for (const auto& n : kNames) {
        if (who == n.who) return n.name;
    }
    return who;
}

}  // namespace

WindowLogic::WindowLogic(WindowView& view)
    : firmware_image(std::make_unique<FirmwareImage>()), view_(view) {}

WindowLogic::~WindowLogic() = default;

void WindowLogic::FormCreate() {
    PortName = "COM1";
    for (Ctl v : {Ctl::Firmware_View, Ctl::Java_View, Ctl::Config_View}) view_.set_lines(v, {});
    view_.clear_messages();
    view_.set_text(Ctl::cmbCommand, "");

    FillImage(*firmware_image);
    port_ = std::make_unique<serial>(*this, PortName, 100);
    std::vector<std::string> ports;
    port_->list_ports(ports);
    if (!ports.empty()) {
        PortName = ports.front();
        port_->set_port(PortName);
    }

    motor_ = std::make_unique<motor_com>(*port_);
    motor_->set_id(read_integer_or(motor_text(), 1));

    std::vector<std::string> ids;
    for (int i = 1; i <= 255; ++i) ids.push_back(std::to_string(i));
    ids.push_back("*");
    view_.set_items(Ctl::MotorID, ids);

    cmbCommandChange();
}

void WindowLogic::FormDestroy() {
    // The motor object only refers to the port, so it goes first; the port
    // then gives the device back the settings it found.
    view_.stop_timer(Timer::poll_timer);
    view_.stop_timer(Timer::DebugLogTimer);
    view_.stop_timer(Timer::cmdTimer);
    motor_.reset();
    port_.reset();
}

bool WindowLogic::window_shown() {
    closing_ = false;
    if (shown_before_) return false;
    shown_before_ = true;
    return true;
}

void WindowLogic::FormShow() {
    if (view_.shift_held()) return;
    view_.show_port_dialog(true);
    select_port_in_dialog();
}

void WindowLogic::SelectComPort1Click() {
    view_.show_port_dialog(false);
    select_port_in_dialog();
}

void WindowLogic::select_port_in_dialog() {
    std::vector<std::string> ports = view_.items(Ctl::ComPortComboBox);
    const auto found = std::find(ports.begin(), ports.end(), PortName);
    // A port typed in by hand is not among the devices listed; without it the
    // box would come up empty, and OK would take the empty name.
    if (found == ports.end()) {
        ports.push_back(PortName);
        view_.set_items(Ctl::ComPortComboBox, ports);
    }
    view_.select_item(Ctl::ComPortComboBox,
                      static_cast<int>(std::find(ports.begin(), ports.end(), PortName) - ports.begin()));
}

void WindowLogic::CommDialogFormCreate() {
    std::vector<std::string> ports;
    port_->list_ports(ports);
    view_.set_items(Ctl::ComPortComboBox, ports);
    view_.select_item(Ctl::ComPortComboBox, ports.empty() ? -1 : 0);
    view_.set_text(Ctl::BaudrateComboBox, std::to_string(port_->get_baud()));
}

void WindowLogic::CommDialogOkClick() {
    SetComPort(view_.text(Ctl::ComPortComboBox));
    if (!apply_port_settings(*port_, view_.text(Ctl::BaudrateComboBox),
                             view_.text(Ctl::TimeoutComboBox))) {
        view_.show_box("Could not open COM-Port", "Info", BoxIcon::Information, BoxOwner::PortDialog);
    }
}

void WindowLogic::SetComPort(const std::string& name) {
    PortName = name;
    port_->set_port(name);
}

void WindowLogic::disconnectComCheckBoxClick() {
    const bool released = view_.checked(Ctl::disconnectComCheckBox);
    for (Ctl control : kReleaseControls) view_.set_enabled(control, !released);
    port_->set_port(released ? "0" : PortName);
}

bool WindowLogic::on_line(const std::string& who, LineUse use, const std::function<void()>& action) {
    if (Guard.busy()) {
        if (use == LineUse::Tick) return false;
        if (tick_on_line_) {
            deferred_.push_back({who, action});
        } else {
            message("Busy: " + Guard.owner() + " is still using the serial line");
        }
        return false;
    }
    {
        LineGuard::Hold hold(Guard, who);
        TraceOperation operation(*port_, trace_name(who));
        // Reset even when the action throws, and before the operation ends: a
        // tick flag left set would have every later click that meets a busy
        // line wait for it instead of being refused.
        struct Reset {
            WindowLogic& w;
            ~Reset() {
                w.tick_on_line_ = false;
                w.operation_ = nullptr;
            }
        } reset{*this};
        if (operation.active()) operation_ = &operation;
        tick_on_line_ = use == LineUse::Tick;
        action();
    }
    if (port_->trace() && port_->trace()->failed()) stop_trace(false);
    while (!deferred_.empty() && !Guard.busy()) {
        Deferred next = std::move(deferred_.front());
        deferred_.pop_front();
        on_line(next.who, LineUse::Click, next.action);
    }
    return true;
}

std::string WindowLogic::motor_text() const { return view_.text(Ctl::MotorID); }

void WindowLogic::operation_result(bool ok) {
    if (operation_) operation_->set_result(ok);
}

void WindowLogic::TraceSerialLine1Click() {
    if (!view_.checked(Ctl::TraceSerialLine1)) {
        stop_trace(true);
        return;
    }
    const std::optional<std::string> name = view_.choose_file(FileDialog::TraceDialog);
    if (!name) {
        view_.set_checked(Ctl::TraceSerialLine1, false);
        return;
    }
    std::string error;
    std::shared_ptr<WireTrace> trace = WireTrace::start(
        *name, {std::string("korvane-util ") + kfu_version, this, WireTrace::kPartBytes}, error);
    if (!trace) {
        view_.set_checked(Ctl::TraceSerialLine1, false);
        const std::string text = "Could not create the trace file " + *name + ": " + error;
        message("Error: " + text);
        box(text, "Error", BoxIcon::Error);
        return;
    }
    port_->set_trace(std::move(trace));
    message("Trace: recording the serial line in " + *name);
}

void WindowLogic::stop_trace(bool say_so) {
    const std::shared_ptr<WireTrace> trace = port_->trace();
    port_->set_trace(nullptr);
    view_.set_checked(Ctl::TraceSerialLine1, false);
    if (!trace || !say_so) return;
    message("Trace: ended; the serial line's trace is in " + trace->path() +
            (trace->part() > 1 ? " and its numbered parts" : ""));
}

// --- Reporter ---

void WindowLogic::message(const std::string& line) {
    if (operation_) operation_->set_text(line);
    view_.append_message(line);
}

void WindowLogic::box(const std::string& text, const std::string& caption, BoxIcon icon) {
    view_.show_box(text, caption, icon, BoxOwner::MainWindow);
}

void WindowLogic::process_events() { view_.let_events_run(); }

void WindowLogic::set_progress_min(int value) {
    set_progress_range(value, std::max(value, view_.progress_maximum()));
}

void WindowLogic::set_progress_max(int value) {
    set_progress_range(std::min(value, view_.progress_minimum()), value);
}

void WindowLogic::set_progress_range(int min, int max) {
    // A bar turns 0..0 into an endless busy animation; a job with nothing to
    // do (an empty script or program) shows an empty bar instead.
    view_.set_progress_range(min, min == 0 && max == 0 ? 1 : max);
}

void WindowLogic::set_progress_position(int value) { view_.set_progress_value(value); }

int WindowLogic::progress_position() const { return view_.progress_value(); }

void WindowLogic::repaint_progress() { view_.repaint_progress_bar(); }

bool WindowLogic::ask_yes_no(const std::string& text, const std::string& caption) {
    return view_.ask_question(text, caption);
}
