#pragma once
// What the window logic needs of a face: the controls it reads and sets, the
// views of the three documents, the message area, the progress bar, the
// timers and the boxes and dialogs. A face (the Qt window, the Win32 window)
// implements this over its own controls; the logic never sees a toolkit.
//
// Texts cross this interface as bytes (Latin-1): the line carries 8-bit text,
// and no byte may be lost between a control and the wire.

#include <optional>
#include <string>
#include <vector>

#include "common/reporter.h"

// The controls the logic reads or sets, by their names in the window.
enum class Ctl {
    // bottom panel
    cmbCommand,
    BtnCmd,
    chkClearOnSend,
    MotorID,
    test_con_Btn,
    poll,
    DebugLogCheckBox,
    chkUSBCompatibility,
    ActionBtn,
    ClearEepromButton,
    AutoFlashButton,
    // tabs
    disconnectComCheckBox,
    Firmware_View,
    Java_View,
    Config_View,
    LogSendCheckBox,
    RepeatCheckBox,
    saveLogCheckBox,
    // menu items
    Save,
    TraceSerialLine1,
    // the port dialog
    ComPortComboBox,
    BaudrateComboBox,
    TimeoutComboBox,
    BootloaderBaudCheckBox,
};

enum class Timer { poll_timer, DebugLogTimer, cmdTimer };

// The file dialogs of the main window (their settings: window_texts.h).
enum class FileDialog { OpenFirmwareDialog, SaveFirmwareDialog, EEDump, ScriptLogDialog, TraceDialog };

// Which window a box sits on.
enum class BoxOwner { MainWindow, PortDialog };

class WindowView {
public:
    virtual ~WindowView() = default;

    // Edit boxes, combo boxes (the edit text) and button captions. Setting
    // the text of an editable combo box acts as the user's typing would: the
    // box's change handler runs.
    virtual std::string text(Ctl control) const = 0;
    virtual void set_text(Ctl control, const std::string& text) = 0;
    // Check boxes and checkable menu items. The logic does itself what the
    // click handler would do after setting one, so a face may run it or not.
    virtual bool checked(Ctl control) const = 0;
    virtual void set_checked(Ctl control, bool checked) = 0;
    virtual void set_enabled(Ctl control, bool enabled) = 0;

    // A combo box's drop-down list. `select_item` picks entry `index` (-1:
    // none) and with it the edit text.
    virtual std::vector<std::string> items(Ctl combo) const = 0;
    virtual void set_items(Ctl combo, const std::vector<std::string>& items) = 0;
    virtual void select_item(Ctl combo, int index) = 0;
    // The command box's list changes while the user types: the typed text
    // and the cursor in it stay where they are, and no handler runs.
    virtual void set_command_list(const std::vector<std::string>& items) = 0;

    // The document views: their lines (an empty view has none).
    virtual int line_count(Ctl view) const = 0;
    virtual std::string line(Ctl view, int index) const = 0;
    virtual std::vector<std::string> lines(Ctl view) const = 0;
    virtual void set_lines(Ctl view, const std::vector<std::string>& lines) = 0;

    // The message area: one whole line at the end, or nothing at all.
    virtual void append_message(const std::string& line) = 0;
    virtual void clear_messages() = 0;

    // The tabs, 0 to 3; choosing one may run the tab change handler.
    virtual int current_page() const = 0;
    virtual void set_current_page(int page) = 0;

    // The progress bar.
    virtual int progress_minimum() const = 0;
    virtual int progress_maximum() const = 0;
    virtual void set_progress_range(int min, int max) = 0;
    virtual int progress_value() const = 0;
    virtual void set_progress_value(int value) = 0;
    virtual void repaint_progress_bar() = 0;

    // Timers run their handler on the window's event loop.
    virtual void start_timer(Timer timer, int interval_ms) = 0;
    virtual void stop_timer(Timer timer) = 0;
    virtual bool timer_active(Timer timer) const = 0;
    virtual int timer_interval(Timer timer) const = 0;
    virtual void set_timer_interval(Timer timer, int interval_ms) = 0;
    // Starts cmdTimer and returns once it has fired or the window is
    // closing, letting events run meanwhile (blocked on the event queue).
    virtual void wait_cmd_timer(int interval_ms) = 0;

    // Lets pending window events (repaints, clicks, timers) run.
    virtual void let_events_run() = 0;
    virtual bool shift_held() const = 0;

    virtual void show_box(const std::string& text, const std::string& caption, BoxIcon icon,
                          BoxOwner owner) = 0;
    // Yes/No with No as the default; a face that cannot ask answers No.
    virtual bool ask_question(const std::string& text, const std::string& caption) = 0;
    // The chosen file's full name, or nothing when the user cancelled.
    virtual std::optional<std::string> choose_file(FileDialog dialog) = 0;
    // Shows the port dialog, modally (returns when it has closed) or not.
    virtual void show_port_dialog(bool modal) = 0;
};
