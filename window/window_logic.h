#pragma once
// What the main window does, once, for every face: the state the subsystems
// share, each handler's decisions and their order, the timers' work and the
// line guard. It owns the one port, the one motor command object and the
// firmware image, and it is the Reporter every routine writes its lines to.
// A face builds the controls, turns its toolkit's events into calls of the
// handlers below and implements WindowView; it calls FormCreate once its
// controls exist and FormDestroy before they go.

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "common/line_guard.h"
#include "common/reporter.h"
#include "window/window_view.h"

class TraceOperation;
class motor_com;
class serial;
struct FirmwareImage;

class WindowLogic : public Reporter {
public:
    explicit WindowLogic(WindowView& view);
    ~WindowLogic() override;
    WindowLogic(const WindowLogic&) = delete;
    WindowLogic& operator=(const WindowLogic&) = delete;

    // --- Reporter ---
    void message(const std::string& line) override;
    void box(const std::string& text, const std::string& caption, BoxIcon icon) override;
    void process_events() override;
    void set_progress_min(int value) override;
    void set_progress_max(int value) override;
    void set_progress_position(int value) override;
    int progress_position() const override;
    void repaint_progress() override;
    bool ask_yes_no(const std::string& text, const std::string& caption) override;
    // True once the window is closing: an operation that lets events run
    // ends rather than go on from a window nobody sees.
    bool stop_requested() const override { return closing_; }

    static constexpr int kPollIntervalMs = 10;
    static constexpr int kDebugLogIntervalMs = 200;
    static constexpr int kCmdTimerIntervalMs = 1000;

    // --- state shared by the subsystems ---
    std::string PortName;
    bool CommandListLoaded = false;
    std::string FirmwareFileName;
    std::string ScriptLogName;
    bool ScriptRepeating = false;
    std::unique_ptr<FirmwareImage> firmware_image;
    LineGuard Guard;

    serial& port() { return *port_; }
    motor_com& motor() { return *motor_; }

    // Takes a port name chosen in the port dialog.
    void SetComPort(const std::string& name);

    // How an action wants the serial line.
    enum class LineUse {
        Click,  // refused while another click's action holds the line
        Tick,   // a background tick: skipped while the line is taken
    };
    // Runs `action` holding the line guard as `who`. A tick that finds the
    // line taken skips its turn. A click that arrives while a background tick
    // lets events run waits until the tick is over and then runs; a click that
    // arrives while another click's action runs is refused with a "Busy: "
    // line. Returns whether the action ran now.
    bool on_line(const std::string& who, LineUse use, const std::function<void()>& action);

    // --- the face tells ---
    // The window has been shown; true the first time, when the face runs
    // FormShow once the window is on the screen (the modal port dialog needs
    // its owner there).
    bool window_shown();
    // The window is closing: the handler under way has to end.
    void window_closing() { closing_ = true; }

    // --- handlers ---
    void FormCreate();
    void FormDestroy();
    void FormShow();
    void disconnectComCheckBoxClick();
    void SelectComPort1Click();
    void TraceSerialLine1Click();

    void BtnCmdClick();
    void cmbCommandKeyPress(char key);
    void cmbCommandChange();
    void clearCommandWindowClick();
    void clearLogwindowClick();

    void test_con_BtnClick();
    void pollClick();
    void poll_timerTimer();
    void MotorIDChange();
    void DebugLogCheckBoxClick();
    void DebugLogTimerTimer();

    void Open1Click();
    void SaveClick();
    void PageControlChange();
    void cmbCommandkeydown();  // OnClick of ActionBtn
    void AutoFlashButtonClick();
    void ClearEepromButtonClick();
    void btnDumpEEPromClick();
    void btnCoreDumpClick();
    void btnBootCrashClick();
    void cmdTimerTimer();

    // The port dialog: filled on every showing, and its OK.
    void CommDialogFormCreate();
    void CommDialogOkClick();

    // Sets the motor number box's text and runs its change handling, as a
    // user's edit of the box does.
    void set_motor_id_text(const std::string& text);

private:
    void send_command(bool run_events);
    void write_firmware();
    void upload_program();
    void run_script();
    void dump(int first, int last);
    void select_port_in_dialog();
    void set_progress_range(int min, int max);
    std::string motor_text() const;
    // The verdict of the operation under way, for its end in the wire trace.
    void operation_result(bool ok);
    // Ends the wire trace and unchecks its menu item; `say_so` tells where it is.
    void stop_trace(bool say_so);

    WindowView& view_;
    std::unique_ptr<serial> port_;
    std::unique_ptr<motor_com> motor_;
    bool shown_before_ = false;
    bool closing_ = false;
    bool tick_on_line_ = false;
    TraceOperation* operation_ = nullptr;
    struct Deferred {
        std::string who;
        std::function<void()> action;
    };
    std::deque<Deferred> deferred_;
};

// The controls the port release switches off and back on, in that order.
inline constexpr Ctl kReleaseControls[] = {
    Ctl::cmbCommand,       Ctl::BtnCmd,    Ctl::test_con_Btn,      Ctl::poll,
    Ctl::DebugLogCheckBox, Ctl::ActionBtn, Ctl::ClearEepromButton, Ctl::AutoFlashButton};
