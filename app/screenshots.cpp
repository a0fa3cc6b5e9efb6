// Renders the main window at work and the port dialog into PNG files for the
// docs, without a display: kfu-screenshots <main_window.png> <port_dialog.png>
// The main window is taken halfway through an AutoFlash of a full HEX file
// to a simulated controller, after a command and its reply.

#include <QApplication>
#include <QComboBox>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/comm_dialog.h"
#include "app/dialogs.h"
#include "app/main_window.h"
#include "bench/cli/full_image.h"
#include "sim/sim.h"

namespace {

// Nothing may wait for a person here; the Open dialog chooses `hex`.
class NoDialogs : public Dialogs {
public:
    explicit NoDialogs(std::string hex) : hex_(std::move(hex)) {}
    void box(QWidget*, const std::string&, const std::string&, BoxIcon) override {}
    std::optional<std::string> open_file(QWidget*, FileDialogSettings&) override { return hex_; }
    std::optional<std::string> save_file(QWidget*, FileDialogSettings&) override { return {}; }
    void run_modal(QDialog&) override {}

private:
    std::string hex_;
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

    SimConfig config;
    config.pace_baud = 921600;  // a quick write; the picture does not show the rate
    SimController sim(config);
    qputenv("KFU_EXTRA_PORTS", QByteArray::fromStdString(sim.path()));
    const std::string hex = (std::filesystem::temp_directory_path() /
                             ("kfu-screenshot-" + std::to_string(QCoreApplication::applicationPid()) + ".hex"))
                                .string();
    WriteFullImage(hex);

    NoDialogs dialogs(hex);
    Tmain_window window(dialogs);
    window.show();
    settle();
    window.cmbCommand->setEditText("VER");
    window.BtnCmdClick();
    window.Open1Click();

    bool saved = false;
    QTimer halfway;
    QObject::connect(&halfway, &QTimer::timeout, [&] {
        const QProgressBar* bar = window.ProgressBar;
        if (saved || bar->maximum() <= 1 || bar->value() < bar->maximum() * 2 / 5) return;
        saved = window.grab().save(argv[1]);
    });
    halfway.start(5);
    window.AutoFlashButtonClick();
    std::filesystem::remove(hex);
    if (!saved) return 1;

    window.CommDialog->show();
    settle();
    if (!window.CommDialog->grab().save(argv[2])) return 1;
    return 0;
}
