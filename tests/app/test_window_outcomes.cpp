// What the window does when an operation must not run or must end early:
// files that would only erase the controller, unreadable lines, and closing
// the window while a dump runs.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/dialogs.h"
#include "window_bench.h"

namespace {

TEST(WindowWrite, AFileWithoutProgramDataSendsNothingFromWriteOrAutoFlash) {
    WindowBench b(in_bootloader());
    Tmain_window& w = *b.w;
    QTemporaryDir dir;
    // Every record lands at 0x1F00000 and up, beyond the image.
    b.open_document(dir, "config.hex", ":0200000401F009\n:06000000010203000405EB\n:00000001FF\n");
    ASSERT_TRUE(w.ActionBtn->isEnabled());

    w.ActionBtn->click();
    EXPECT_EQ(b.last_line(),
              "Error: no program data in the firmware file, nothing was written (1 data record "
              "lies beyond 0x3FFFF)");

    // Emptied on disk since: AutoFlash reads it again and refuses as well.
    std::ofstream(w.FirmwareFileName, std::ios::trunc).flush();
    w.AutoFlashButton->click();
    EXPECT_EQ(b.last_line(), "Error: no program data in the firmware file, nothing was written");
    EXPECT_EQ(b.sim.received(), "");
    EXPECT_FALSE(w.Guard.busy());
}

TEST(WindowWrite, UnreadableLinesAreAskedAboutAndOnlyYesWrites) {
    WindowBench b(in_bootloader());
    Tmain_window& w = *b.w;
    QTemporaryDir dir;
    b.open_document(dir, "motor.hex", ":06000000010203000405EB\n:0600100001\n:00000001FF\n");

    w.ActionBtn->click();
    ASSERT_EQ(b.dialogs.questions.size(), 1u);
    EXPECT_EQ(b.dialogs.questions[0],
              "1 line of the HEX file could not be read (first: line 2).\nWrite the firmware all "
              "the same?");
    EXPECT_EQ(b.last_line(),
              "Firmware not written: 1 line of the HEX file could not be read (first: line 2)");
    EXPECT_EQ(b.sim.received(), "");

    b.dialogs.answer_yes = true;
    w.ActionBtn->click();
    EXPECT_EQ(b.last_line(), "Firmware successfully written");
    EXPECT_EQ(b.sim.flash()[0], 0x01);
}

// The real question box: Yes and No, No the default, so Enter answers No.
TEST(WindowWrite, TheQuestionBoxDefaultsToNo) {
    QtDialogs dialogs;
    std::vector<QString> buttons;
    const auto press = [&](bool yes) {
        QTimer::singleShot(0, [&buttons, yes] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            for (QAbstractButton* b : box->buttons()) buttons.push_back(b->text().remove('&'));
            ASSERT_NE(box->defaultButton(), nullptr);
            EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
            if (yes) {
                box->button(QMessageBox::Yes)->click();
            } else {
                box->defaultButton()->click();
            }
        });
    };
    press(false);
    EXPECT_FALSE(dialogs.ask_yes_no(nullptr, "Write?", "Warning"));
    press(true);
    EXPECT_TRUE(dialogs.ask_yes_no(nullptr, "Write?", "Warning"));
    EXPECT_EQ(buttons.size(), 4u);
}

// Closing the window used to leave an invisible process dumping a silent
// controller for half an hour, holding the port and the instance lock.
TEST(WindowClosing, EndsADumpAtOnceWithoutAFile) {
    WindowBench b;
    Tmain_window& w = *b.w;
    b.sim.set_silent(true);
    QTemporaryDir dir;
    const std::string path = dir.filePath("eeprom.eed").toStdString();
    b.dialogs.file_answers.push_back(path);
    const bool quit_on_close = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(false);
    w.show();
    QTimer::singleShot(300, &w, [&] { w.close(); });
    // Only a safety net for a dump that would not end: the rest of it then
    // runs through at once.
    QTimer::singleShot(6000, &w, [&] { w.port().set_port("0"); });

    QElapsedTimer clock;
    clock.start();
    w.btnDumpEEProm->click();
    QApplication::setQuitOnLastWindowClosed(quit_on_close);

    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(b.last_line(), "Stopped: the dump was interrupted, no file was written");
    EXPECT_FALSE(w.Guard.busy());
    EXPECT_EQ(w.ProgressBar->maximum(), 255);
}

}  // namespace
