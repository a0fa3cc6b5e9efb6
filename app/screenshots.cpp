// Renders the main window and the port dialog into PNG files, without a
// display: kfu-screenshots <main_window.png> <port_dialog.png>

#include <QApplication>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

#include "app/comm_dialog.h"
#include "app/dialogs.h"
#include "app/main_window.h"

namespace {

// Nothing may wait for a person here.
class NoDialogs : public Dialogs {
public:
    void box(QWidget*, const std::string&, const std::string&, BoxIcon) override {}
    std::optional<std::string> open_file(QWidget*, FileDialogSettings&) override { return {}; }
    std::optional<std::string> save_file(QWidget*, FileDialogSettings&) override { return {}; }
    void run_modal(QDialog&) override {}
};

void settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s MAIN_WINDOW.png PORT_DIALOG.png\n", argv[0]);
        return 2;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    NoDialogs dialogs;
    Tmain_window window(dialogs);
    window.PageControl->setCurrentWidget(window.FirmwareTab);
    window.show();
    settle();
    if (!window.grab().save(argv[1])) return 1;

    window.CommDialog->show();
    settle();
    if (!window.CommDialog->grab().save(argv[2])) return 1;
    return 0;
}
