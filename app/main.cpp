// Program entry: the single-instance guard, the application and its windows.

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>

#include "app/application.h"
#include "app/command_line.h"
#include "app/dialogs.h"
#include "app/main_window.h"
#include "app/quit_on_signal.h"
#include "app/single_instance.h"
#include "common/program_info.h"

int main(int argc, char** argv) {
    if (const auto text = info_answer(argc, argv)) {
        return print_answer("korvane-util", *text);
    }

    QtDialogs dialogs;
    // The box of a refused start and the key state both need the toolkit.
    KfuApplication app(argc, argv, dialogs);

    const bool ctrl_held = QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier;
    if (!ctrl_held && !take_instance_lock("kr7_util_mutex")) {
        dialogs.box(nullptr, "You may start the program only once", "Info", BoxIcon::Warning);
        return 1;
    }

    // The application's own name, which task bars show for it. A display name
    // would be appended to every window caption by the X11 and Wayland
    // platforms ("... — Firmware Util").
    QApplication::setApplicationName("Firmware Util");
    // Lets the desktop match the window to its menu entry and icon; the icon
    // comes from the icon theme the package installs it into.
    QGuiApplication::setDesktopFileName(KFU_APP_ID);
    const QIcon icon = QIcon::fromTheme(KFU_APP_ID);
    if (!icon.isNull()) QApplication::setWindowIcon(icon);
    int code = 0;
    try {
        Tmain_window main_window(dialogs);
        close_on_termination_signals(main_window);
        main_window.show();
        code = app.exec();
    } catch (const std::exception& e) {
        dialogs.box(nullptr, e.what(), "Error", BoxIcon::Error);
    }
    return code;
}
