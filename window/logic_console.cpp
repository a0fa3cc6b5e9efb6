// The command console: sending a command, the command list, clearing views.

#include <vector>

#include "motor/console.h"
#include "window/window_logic.h"

namespace {

const char* const kCommandListFile = "commlist.txt";

}  // namespace

void WindowLogic::send_command(bool run_events) {
    on_line("the command console", LineUse::Click, [this, run_events] {
        send_console_command(*port_, *motor_, *this, view_.text(Ctl::cmbCommand), run_events);
        if (view_.checked(Ctl::chkClearOnSend)) view_.set_text(Ctl::cmbCommand, "");
    });
}

void WindowLogic::BtnCmdClick() { send_command(true); }

void WindowLogic::cmbCommandKeyPress(char key) {
    // Enter sends without letting events run while stale bytes are dropped.
    if (key == '\r') send_command(false);
}

void WindowLogic::cmbCommandChange() {
    std::vector<std::string> entries = view_.items(Ctl::cmbCommand);
    if (keep_command_list(entries, CommandListLoaded, view_.text(Ctl::cmbCommand),
                          kCommandListFile) != ListChange::None) {
        view_.set_command_list(entries);
    }
}

void WindowLogic::clearCommandWindowClick() {
    switch (view_.current_page()) {
        case 0:
            view_.set_enabled(Ctl::ActionBtn, false);
            view_.set_lines(Ctl::Firmware_View, {});
            break;
        case 1:
            view_.set_enabled(Ctl::ActionBtn, false);
            view_.set_lines(Ctl::Java_View, {});
            break;
        case 2:
            view_.set_enabled(Ctl::ActionBtn, !view_.checked(Ctl::disconnectComCheckBox));
            view_.set_lines(Ctl::Config_View, {});
            break;
        default:
            break;
    }
}

void WindowLogic::clearLogwindowClick() { view_.clear_messages(); }
