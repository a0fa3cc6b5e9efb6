// The documents, the Write action by tab, the bootloader buttons and the
// dumps, wired into the window and run against the simulated controller.

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "firmware/documents.h"
#include "firmware/flashmem.h"
#include "window_bench.h"

namespace {

// One data record of six bytes at address 0.
const char* const kHex =
    ":06000000010203000405EB\n"
    ":00000001FF\n";

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Documents, OpeningAHexFileEnablesWriteAndAutoFlashAndWriteWorks) {
    WindowBench b(in_bootloader());
    Tmain_window& w = *b.w;
    QTemporaryDir dir;
    const std::string hex = write_file(dir, "motor.HEX", kHex);
    w.PageControl->setCurrentWidget(w.ConfigTab);

    b.dialogs.file_answers.push_back(hex);
    w.Open1->trigger();
    EXPECT_EQ(b.dialogs.file_dialogs.back(), "OpenFirmwareDialog");
    EXPECT_EQ(w.PageControl->currentWidget(), w.FirmwareTab);
    EXPECT_EQ(w.FirmwareFileName, hex);
    EXPECT_EQ(view_lines(w.Firmware_View),
              (std::vector<std::string>{":06000000010203000405EB", ":00000001FF"}));
    EXPECT_EQ(w.ActionBtn->text(), "write Firmware");
    EXPECT_TRUE(w.ActionBtn->isEnabled());
    EXPECT_TRUE(w.AutoFlashButton->isEnabled());
    EXPECT_FALSE(w.Save->isEnabled());
    EXPECT_EQ(w.firmware_image->bytes[0], 0x01);

    w.DebugLogCheckBox->setChecked(true);
    w.ActionBtn->click();
    EXPECT_EQ(b.last_line(), "Firmware successfully written");
    EXPECT_FALSE(w.DebugLogCheckBox->isChecked());
    EXPECT_FALSE(w.DebugLogTimer->isActive());

    // Cancelling the dialog changes nothing.
    w.Open1->trigger();
    EXPECT_EQ(w.FirmwareFileName, hex);
}

TEST(Documents, AutoFlashWritesTheOpenedFileToARunningController) {
    WindowBench b;
    Tmain_window& w = *b.w;
    QTemporaryDir dir;
    b.open_document(dir, "motor.hex", kHex);
    w.AutoFlashButton->click();
    const auto lines = b.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Firmware successfully written"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Bootloader terminated"), lines.end());
    EXPECT_EQ(b.sim.flash()[0], 0x01);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "restoring Baudrate"), lines.end());
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.starts_with("Warning"); }),
              0);
}

TEST(Documents, ScriptFromTheConfigurationTabRunsAndSaves) {
    WindowBench b;
    Tmain_window& w = *b.w;
    QTemporaryDir dir;
    b.open_document(dir, "setup.cfg", "#output hello\r\nVER\r\n");
    EXPECT_EQ(w.PageControl->currentWidget(), w.ConfigTab);
    EXPECT_EQ(w.ActionBtn->text(), "write Configuration");
    EXPECT_TRUE(w.Save->isEnabled());

    w.ActionBtn->click();
    EXPECT_EQ(b.lines(), (std::vector<std::string>{"->  hello", "-> VER", "<- VER"}));
    EXPECT_EQ(b.sim.received(), "#1VER\r");
    EXPECT_EQ(w.port().get_timeout(), 100u);  // back to the port dialog's time-out

    const std::string saved = dir.filePath("copy.cfg").toStdString();
    b.dialogs.file_answers.push_back(saved);
    w.Save->trigger();
    EXPECT_EQ(b.dialogs.file_dialogs.back(), "SaveFirmwareDialog");
    EXPECT_EQ(read_file(saved), "#output hello\nVER\n");
}

TEST(Documents, AnEmptyScriptLeavesTheProgressBarAtRest) {
    WindowBench b;
    Tmain_window& w = *b.w;
    w.PageControl->setCurrentWidget(w.ConfigTab);
    w.ActionBtn->click();
    EXPECT_TRUE(b.sim.received().empty());
    // 0..0 would be the bar's endless busy animation.
    EXPECT_FALSE(w.ProgressBar->minimum() == 0 && w.ProgressBar->maximum() == 0);
    EXPECT_EQ(w.ProgressBar->value(), 0);
}

TEST(Documents, ProgramFromTheJavaTabIsUploaded) {
    WindowBench b;
    Tmain_window& w = *b.w;
    QTemporaryDir dir;
    b.open_document(dir, "blink.prg", "\x34\x12\x78\x56\x01");
    EXPECT_EQ(w.PageControl->currentWidget(), w.JavaTab);
    EXPECT_EQ(view_lines(w.Java_View), (std::vector<std::string>{"(J4660", "(J153208"}));
    EXPECT_EQ(w.ActionBtn->text(), "write Java");
    ASSERT_TRUE(w.ActionBtn->isEnabled());
    w.ActionBtn->click();
    EXPECT_EQ(b.sim.received(), "#1(JS\r#1(J4660\r#1(J153208\r#1(JI\r");
    EXPECT_EQ(b.lines(), (std::vector<std::string>{"(JS", "(JI"}));
}

TEST(Documents, AFileAboveTheSizeLimitIsRefusedAndChangesNothing) {
    WindowBench b;
    Tmain_window& w = *b.w;
    QTemporaryDir dir;
    b.open_document(dir, "motor.hex", kHex);
    const std::string big = write_file(dir, "huge.cfg", "");
    std::filesystem::resize_file(big, kMaxDocumentBytes + 1);

    b.dialogs.file_answers.push_back(big);
    w.Open1->trigger();
    EXPECT_EQ(b.lines().back(), "Error: " + big + " is too large to open (more than 64 MiB)");
    EXPECT_EQ(w.PageControl->currentWidget(), w.FirmwareTab);
    EXPECT_TRUE(w.Config_View->document()->isEmpty());
    EXPECT_EQ(view_lines(w.Firmware_View),
              (std::vector<std::string>{":06000000010203000405EB", ":00000001FF"}));
}

TEST(Documents, ReleasedPortKeepsTheWriteButtonOffOnEveryTabButMaintenance) {
    WindowBench b;
    Tmain_window& w = *b.w;
    QTemporaryDir dir;
    b.open_document(dir, "notes.txt", "x");
    EXPECT_EQ(w.ActionBtn->text(), "write Firmware");
    EXPECT_FALSE(w.ActionBtn->isEnabled());

    w.PageControl->setCurrentWidget(w.ConfigTab);
    EXPECT_TRUE(w.ActionBtn->isEnabled());
    w.disconnectComCheckBox->click();
    w.PageControl->setCurrentWidget(w.tabMaintenance);
    EXPECT_FALSE(w.ActionBtn->isEnabled());
    w.PageControl->setCurrentWidget(w.ConfigTab);
    EXPECT_FALSE(w.ActionBtn->isEnabled());
    w.clearCommandWindow->trigger();
    EXPECT_FALSE(w.ActionBtn->isEnabled());

    w.disconnectComCheckBox->click();
    w.clearCommandWindow->trigger();  // an empty script may still be run
    EXPECT_TRUE(w.ActionBtn->isEnabled());
    w.PageControl->setCurrentWidget(w.tabMaintenance);
    w.clearCommandWindow->trigger();
    EXPECT_TRUE(w.ActionBtn->isEnabled());
    w.PageControl->setCurrentWidget(w.FirmwareTab);
    w.clearCommandWindow->trigger();
    EXPECT_FALSE(w.ActionBtn->isEnabled());
}

TEST(Maintenance, BootCrashDumpGoesToTheChosenFile) {
    WindowBench b;
    Tmain_window& w = *b.w;
    QTemporaryDir dir;
    const std::string path = dir.filePath("crash.eed").toStdString();
    b.dialogs.file_answers.push_back(path);
    w.btnBootCrash->click();
    EXPECT_EQ(b.dialogs.file_dialogs.back(), "EEDump");
    const std::string text = read_file(path);
    EXPECT_EQ(text.rfind("0x1D00\t", 0), 0u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 16);
    EXPECT_TRUE(text.ends_with("\n0x1E00\t"));
    EXPECT_EQ(w.ProgressBar->maximum(), 255);

    b.sim.clear_log();
    w.btnCoreDump->click();  // cancelled: nothing is sent
    EXPECT_EQ(b.sim.received(), "");
}

TEST(Maintenance, ClearEepromReportsItsResult) {
    WindowBench b;
    Tmain_window& w = *b.w;
    w.ClearEepromButton->click();
    EXPECT_EQ(b.sim.eeprom_clears(), 1);
    EXPECT_EQ(b.last_line(), "OK");
}

}  // namespace
