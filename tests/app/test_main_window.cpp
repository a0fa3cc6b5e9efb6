// The main window offscreen, talking to the simulated controller.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <thread>

#include "app/comm_dialog.h"
#include "motor/motor_com.h"
#include "support/sim_bench.h"
#include "window_bench.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool received_soon(const SimController& sim, const std::string& bytes) {
    return QTest::qWaitFor([&] { return sim.received().find(bytes) != std::string::npos; }, 2000);
}

TEST(MainWindow, StartsWithNamedControlsFirstPortAndMotorOne) {
    WindowBench b;
    Tmain_window& w = *b.w;
    EXPECT_EQ(w.windowTitle(), "Korvane Firmware Utility 1.36");
    for (const char* name :
         {"PageControl", "FirmwareTab", "JavaTab", "ConfigTab", "tabMaintenance", "Firmware_View",
          "Java_View", "Config_View", "Panel1", "LogSendCheckBox", "RepeatCheckBox",
          "saveLogCheckBox", "btnDumpEEProm", "btnCoreDump", "btnBootCrash", "Splitter1",
          "ProgressBar", "Message", "BottomPanel", "cmbCommand", "BtnCmd", "Label1", "MotorID",
          "test_con_Btn", "poll", "DebugLogCheckBox", "chkClearOnSend", "chkUSBCompatibility",
          "ActionBtn", "ClearEepromButton", "AutoFlashButton", "disconnectComCheckBox", "MainMenu",
          "File", "Open1", "Save", "N1", "Exit1", "Configuration1", "SelectComPort1", "Edit1",
          "clearCommandWindow", "clearLogwindow", "Help1", "About1", "howto1", "poll_timer",
          "DebugLogTimer", "cmdTimer", "OpenFirmwareDialog", "SaveFirmwareDialog", "EEDump"}) {
        EXPECT_NE(w.findChild<QObject*>(name), nullptr) << name;
    }
    EXPECT_EQ(w.PortName, b.sim.path());
    EXPECT_EQ(w.port().port_name(), b.sim.path());
    EXPECT_FALSE(w.port().is_open());

    ASSERT_EQ(w.MotorID->count(), 256);
    EXPECT_EQ(w.MotorID->itemText(0), "1");
    EXPECT_EQ(w.MotorID->itemText(254), "255");
    EXPECT_EQ(w.MotorID->itemText(255), "*");
    EXPECT_EQ(w.MotorID->currentText(), "1");
    EXPECT_EQ(w.motor().id(), 1);
    EXPECT_EQ(w.Label1->buddy(), w.MotorID);

    EXPECT_EQ(w.PageControl->currentIndex(), 0);
    EXPECT_FALSE(w.ActionBtn->isEnabled());
    EXPECT_FALSE(w.AutoFlashButton->isEnabled());
    EXPECT_FALSE(w.Save->isEnabled());
    EXPECT_EQ(w.ActionBtn->text(), "Write Firmware");
    EXPECT_TRUE(w.LogSendCheckBox->isChecked());
    EXPECT_TRUE(w.chkUSBCompatibility->isChecked());
    EXPECT_EQ(w.clearLogwindow->shortcut(), QKeySequence("Ctrl+L"));
    EXPECT_EQ(w.poll_timer->interval(), 10);
    EXPECT_EQ(w.DebugLogTimer->interval(), 200);
    EXPECT_FALSE(w.poll_timer->isActive() || w.DebugLogTimer->isActive() || w.cmdTimer->isActive());
    EXPECT_EQ(w.ProgressBar->maximum(), 255);
    EXPECT_EQ(w.cmbCommand->count(), 1);  // the empty text, with no command list file here
    EXPECT_TRUE(w.Message->toPlainText().isEmpty());
}

TEST(MainWindow, ReleaseBoxSwitchesExactlyItsEightControls) {
    WindowBench b;
    Tmain_window& w = *b.w;
    const QList<QWidget*> eight = release_controls(w);
    ASSERT_EQ(eight.size(), 8);
    // The window's own controls; the parts inside a control follow it anyway.
    QList<QWidget*> controls;
    for (QWidget* c : w.findChildren<QWidget*>()) {
        if (c->objectName().isEmpty() || c->objectName().startsWith("qt_")) continue;
        if (c->parentWidget() && eight.contains(c->parentWidget())) continue;
        controls.append(c);
    }
    std::map<QWidget*, bool> before;
    for (QWidget* c : controls) before[c] = c->isEnabled();

    w.disconnectComCheckBox->click();
    EXPECT_EQ(w.port().port_name(), "0");
    for (QWidget* c : controls) {
        EXPECT_EQ(c->isEnabled(), eight.contains(c) ? false : before[c]) << c->objectName().toStdString();
    }
    // Released: reads fail quietly instead of reaching the controller.
    w.test_con_BtnClick();
    EXPECT_EQ(b.sim.received(), "");

    w.disconnectComCheckBox->click();
    EXPECT_EQ(w.port().port_name(), b.sim.path());
    for (QWidget* c : eight) EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
    w.test_con_BtnClick();
    EXPECT_TRUE(received_soon(b.sim, "#1 \r"));
}

TEST(MainWindow, ShiftEnterInTheScriptViewStartsARealLine) {
    WindowBench b;
    Tmain_window& w = *b.w;
    w.PageControl->setCurrentWidget(w.ConfigTab);
    click_for_focus(w.Config_View->viewport());
    type_keys("A");
    press_key(Qt::Key_Return, Qt::ShiftModifier);
    type_keys("B\tC");
    EXPECT_EQ(w.Config_View->document()->blockCount(), 2);
    EXPECT_EQ(w.Config_View->document()->lastBlock().text(), "B\tC");  // Tab is text here
}

TEST(Console, SendShowsTheReplyAndClearsOnRequest) {
    WindowBench b;
    Tmain_window& w = *b.w;
    b.sim.send_raw("stale bytes\r");
    QTest::qWait(50);
    w.cmbCommand->setEditText("A");
    w.BtnCmd->click();
    EXPECT_EQ(b.lines(), std::vector<std::string>{"A"});
    EXPECT_EQ(w.cmbCommand->currentText(), "A");

    w.chkClearOnSend->setChecked(true);
    click_for_focus(w.cmbCommand);
    press_key(Qt::Key_Return);
    EXPECT_EQ(b.lines(), (std::vector<std::string>{"A", "A"}));
    EXPECT_EQ(w.cmbCommand->currentText(), "");
    EXPECT_EQ(b.sim.received(), "#1A\r#1A\r");
    press_key(Qt::Key_Enter, Qt::KeypadModifier);  // the keypad's Enter sends as well
    EXPECT_EQ(b.sim.received(), "#1A\r#1A\r#1\r");

    w.clearLogwindow->trigger();
    EXPECT_TRUE(b.lines().empty());
}

class CommandListFile : public ::testing::Test {
protected:
    void SetUp() override {
        old_dir = QDir::currentPath();
        dir = fs::temp_directory_path() / ("kfu-app-commlist-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        QDir::setCurrent(QString::fromStdString(dir.string()));
    }
    void TearDown() override {
        QDir::setCurrent(old_dir);
        fs::remove_all(dir);
    }
    static std::vector<std::string> items(const QComboBox* c) {
        std::vector<std::string> out;
        for (int i = 0; i < c->count(); ++i) out.push_back(c->itemText(i).toStdString());
        return out;
    }
    QString old_dir;
    fs::path dir;
};

TEST_F(CommandListFile, WithoutTheFileTypedTextsAreAddedUntilItAppears) {
    WindowBench b;
    QLineEdit* edit = b.w->cmbCommand->lineEdit();
    click_for_focus(b.w->cmbCommand);
    type_keys("AB");
    EXPECT_EQ(items(b.w->cmbCommand), (std::vector<std::string>{"", "A", "AB"}));
    edit->clear();
    type_keys("ab");
    EXPECT_EQ(items(b.w->cmbCommand), (std::vector<std::string>{"", "A", "AB"}));

    std::ofstream("commlist.txt") << "VER\r\n@S\n";
    type_keys("c");
    EXPECT_EQ(items(b.w->cmbCommand), (std::vector<std::string>{"VER", "@S"}));
    EXPECT_EQ(edit->text(), "abc");  // refilling the list leaves the typed text alone
    EXPECT_TRUE(b.w->CommandListLoaded);
    EXPECT_EQ(fs::file_size(dir / "commlist.txt"), 8u);  // read, never written
}

TEST_F(CommandListFile, TypingInsideTheTextKeepsTheCursorWhereItIs) {
    WindowBench b;
    QLineEdit* edit = b.w->cmbCommand->lineEdit();
    click_for_focus(b.w->cmbCommand);
    type_keys("AC");
    press_key(Qt::Key_Left);
    type_keys("BX");  // each keystroke appends a new entry to the list
    EXPECT_EQ(edit->text(), "ABXC");
    EXPECT_EQ(edit->cursorPosition(), 3);
    EXPECT_EQ(items(b.w->cmbCommand), (std::vector<std::string>{"", "A", "AC", "ABC", "ABXC"}));
}

TEST_F(CommandListFile, WithTheFileTheListHoldsItsLinesAndNeverGrows) {
    std::ofstream("commlist.txt") << "first\n\nthird";
    WindowBench b;
    EXPECT_EQ(items(b.w->cmbCommand), (std::vector<std::string>{"first", "", "third"}));
    click_for_focus(b.w->cmbCommand);
    type_keys("new");
    EXPECT_EQ(b.w->cmbCommand->count(), 3);
}

TEST(Link, TestButtonForMotorOneAndForAll) {
    WindowBench b;
    Tmain_window& w = *b.w;
    b.sim.set_silent(true);
    w.test_con_Btn->click();
    w.MotorID->setEditText("*");
    EXPECT_EQ(w.motor().id(), 0);
    w.test_con_Btn->click();
    EXPECT_EQ(b.lines(), (std::vector<std::string>{"-> #1 ", "<- ", "-> #* ", "<- "}));
    EXPECT_EQ(b.sim.received(), "#1 \r#* \r");
}

TEST(Link, PollingStopsAtASixByteOkReplyWithABoxAndALine) {
    WindowBench b;  // replies "001@OK" CR
    Tmain_window& w = *b.w;
    w.poll->click();
    EXPECT_TRUE(w.poll_timer->isActive());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.poll->isChecked(); }, 3000));
    EXPECT_FALSE(w.poll_timer->isActive());
    ASSERT_EQ(b.dialogs.boxes.size(), 1u);
    EXPECT_EQ(b.dialogs.boxes[0].text, "Device detected");
    EXPECT_EQ(b.dialogs.boxes[0].caption, "Info");
    EXPECT_EQ(b.lines(), (std::vector<std::string>{"-> #1@S\u240D", "<- 001@OK", "Device detected"}));
    EXPECT_EQ(b.sim.received(), "#1@S\r");
}

TEST(Link, PollingGoesOnAfterAFiveByteReplyUntilUnchecked) {
    WindowBench b(plain_ids());  // replies "1@OK" CR
    Tmain_window& w = *b.w;
    w.poll->click();
    EXPECT_TRUE(received_soon(b.sim, "#1@S\r#1@S\r"));
    w.poll->click();
    EXPECT_FALSE(w.poll_timer->isActive());
    EXPECT_TRUE(b.dialogs.boxes.empty());
    const auto sent = b.sim.received();
    QTest::qWait(100);
    EXPECT_EQ(b.sim.received(), sent);
}

TEST(Link, PollingOnAReleasedPortKeepsThePaceOfItsReads) {
    WindowBench b;  // read time-out 20 ms: a poll read waits up to 80 ms
    Tmain_window& w = *b.w;
    w.disconnectComCheckBox->setChecked(true);
    w.poll->setChecked(true);
    QElapsedTimer clock;
    clock.start();
    const auto cycles = [&] {
        const auto l = b.lines();
        return std::count(l.begin(), l.end(), "-> #1@S\u240D");
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return cycles() >= 5; }, 10000));
    // Five cycles, four pauses between them; a load on the machine only adds.
    EXPECT_GE(clock.elapsed(), 4 * 80 * 9 / 10);
    EXPECT_EQ(b.sim.received(), "");

    // Taken back, the line sets the pace again and the controller is found.
    w.disconnectComCheckBox->setChecked(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.poll->isChecked(); }, 5000));
    EXPECT_EQ(b.last_line(), "Device detected");
    w.poll->setChecked(true);
    EXPECT_EQ(w.poll_timer->interval(), 10);
    w.poll->setChecked(false);
}

TEST(MotorNumber, TypedTextIsCorrectedOnceAndSelectsTheMotor) {
    WindowBench b;
    Tmain_window& w = *b.w;
    const struct {
        const char* typed;
        const char* shown;
        int id;
    } cases[] = {{"300", "255", 255}, {"abc", "1", 1}, {"0", "1", 1}, {"-4", "1", 1},
                 {"", "1", 1},        {"*", "*", 0},   {"17", "17", 17}};
    for (const auto& c : cases) {
        int changes = 0;
        auto counter = QObject::connect(w.MotorID, &QComboBox::currentTextChanged, [&] { ++changes; });
        w.MotorID->setEditText(c.typed);
        QObject::disconnect(counter);
        EXPECT_EQ(w.MotorID->currentText(), c.shown) << c.typed;
        EXPECT_EQ(w.motor().id(), c.id) << c.typed;
        EXPECT_LE(changes, 2) << c.typed;  // the edit and at most one correction
    }
}

TEST(DebugLog, LinesArriveOnePerTickWhileTheBoxIsChecked) {
    WindowBench b;
    Tmain_window& w = *b.w;
    b.sim.set_silent(true);
    b.sim.send_raw("abc\rdef\r");
    w.DebugLogCheckBox->click();
    EXPECT_TRUE(w.DebugLogTimer->isActive());
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.lines().size() >= 2; }, 3000));
    EXPECT_EQ(b.lines(), (std::vector<std::string>{"DEBUG: abc", "DEBUG: def"}));
    w.DebugLogCheckBox->click();
    EXPECT_FALSE(w.DebugLogTimer->isActive());
}

TEST(LineGuard, TicksAndClicksDuringALongOperationDoNotWrite) {
    WindowBench b;
    Tmain_window& w = *b.w;
    b.sim.set_silent(true);
    w.poll->setChecked(true);
    w.DebugLogCheckBox->setChecked(true);
    bool ran = w.on_line("the firmware write", Tmain_window::LineUse::Click, [&] {
        QTest::qWait(400);  // the operation lets events (timer ticks) run
        w.test_con_Btn->click();
        w.BtnCmd->click();
    });
    EXPECT_TRUE(ran);
    EXPECT_EQ(b.sim.received(), "");
    EXPECT_EQ(b.last_line(), "Busy: the firmware write is still using the serial line");
    EXPECT_TRUE(received_soon(b.sim, "#1@S\r"));  // polling resumes afterwards
    w.poll->setChecked(false);
    w.DebugLogCheckBox->setChecked(false);
}

TEST(LineGuard, AClickDuringABackgroundTickRunsRightAfterIt) {
    WindowBench b;
    Tmain_window& w = *b.w;
    w.cmbCommand->setEditText("A");
    w.on_line("the debug log", Tmain_window::LineUse::Tick, [&] {
        w.BtnCmd->click();
        EXPECT_EQ(b.sim.received(), "");
    });
    EXPECT_EQ(b.sim.received(), "#1A\r");
    EXPECT_EQ(b.last_line(), "A");
}

TEST(LineGuard, AnActionThatThrowsLeavesTheLineAsItWas) {
    WindowBench b;
    Tmain_window& w = *b.w;
    w.cmbCommand->setEditText("A");
    EXPECT_THROW(w.on_line("the debug log", Tmain_window::LineUse::Tick,
                           [] { throw std::runtime_error("lost device"); }),
                 std::runtime_error);
    EXPECT_FALSE(w.Guard.busy());

    // The next operation runs, and a click meeting it is refused as ever
    // rather than held back as if a background tick were under way.
    bool ran = w.on_line("the firmware write", Tmain_window::LineUse::Click, [&] {
        w.BtnCmd->click();
        EXPECT_EQ(b.sim.received(), "");
    });
    EXPECT_TRUE(ran);
    EXPECT_EQ(b.last_line(), "Busy: the firmware write is still using the serial line");
    QTest::qWait(100);
    EXPECT_EQ(b.sim.received(), "");
}

// The pty's settings as another program would find them.
termios pty_settings(const std::string& path) {
    termios t{};
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::tcgetattr(fd, &t), 0);
    ::close(fd);
    return t;
}

TEST(Lifecycle, DestroyingTheWindowGivesThePortBack) {
    WindowBench b;
    const termios before = pty_settings(b.sim.path());
    b.w->port().set_baud(19200);
    b.w->cmbCommand->setEditText("A");
    b.w->BtnCmd->click();
    ASSERT_TRUE(b.w->port().is_open());
    EXPECT_EQ(b.sim.line_baud(), 19200u);
    b.w.reset();
    const termios after = pty_settings(b.sim.path());
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
}

TEST(PortDialog, ShownModallyOnceAtFirstShowingWithThePortSelected) {
    WindowBench b;
    b.w->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !b.dialogs.modal_runs.empty(); }, 2000));
    EXPECT_EQ(b.dialogs.modal_runs[0], b.w->CommDialog);
    EXPECT_EQ(b.w->CommDialog->ComPortComboBox->currentText().toStdString(), b.sim.path());
    b.w->hide();
    b.w->show();
    QTest::qWait(50);
    EXPECT_EQ(b.dialogs.modal_runs.size(), 1u);
    EXPECT_EQ(b.w->port().get_timeout(), 20u);  // the bench's, untouched without OK
}

TEST(PortDialog, FirstRunOkThenEnterShowsTheControllersReply) {
    WindowBench b;
    b.dialogs.on_modal = [&](QDialog& d) {
        static_cast<TCommDialog&>(d).BitBtnOk->click();
    };
    b.w->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !b.dialogs.modal_runs.empty(); }, 2000));
    EXPECT_TRUE(b.w->port().is_open());
    EXPECT_EQ(b.w->port().get_timeout(), 100u);
    click_for_focus(b.w->cmbCommand);
    type_keys("VER");
    press_key(Qt::Key_Return);
    EXPECT_EQ(b.sim.received(), "#1VER\r");
    EXPECT_EQ(b.lines(), std::vector<std::string>{"VER"});
}

TEST(PortDialog, OkAppliesTheSettingsOrSaysItCouldNotOpen) {
    WindowBench b;
    Tmain_window& w = *b.w;
    TCommDialog& d = *w.CommDialog;
    w.port().set_baud(19200);
    w.SelectComPort1Click();
    EXPECT_TRUE(d.isVisible());
    EXPECT_FALSE(d.isModal());
    EXPECT_EQ(d.BaudrateComboBox->currentText(), "19200");
    EXPECT_EQ(d.ComPortComboBox->currentText().toStdString(), b.sim.path());
    EXPECT_EQ(d.TimeoutComboBox->currentText(), "100");
    EXPECT_TRUE(d.BootloaderBaudCheckBox->isChecked());

    w.SetComPort("/nonexistent/port");
    d.BaudrateComboBox->setEditText("19200");
    d.TimeoutComboBox->setEditText("30");
    d.ComPortComboBox->setEditText(QString::fromStdString(b.sim.path()));
    d.BitBtnOk->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(w.PortName, b.sim.path());
    EXPECT_TRUE(w.port().is_open());
    EXPECT_EQ(w.port().get_baud(), 19200u);
    EXPECT_EQ(w.port().get_timeout(), 30u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return b.sim.line_baud() == 19200u; }, 1000));
    EXPECT_TRUE(b.dialogs.boxes.empty());

    w.SelectComPort1Click();
    d.TimeoutComboBox->setEditText("abc");
    d.BitBtnOk->click();
    ASSERT_EQ(b.dialogs.boxes.size(), 1u);
    EXPECT_EQ(b.dialogs.boxes[0].text, "Could not open COM-Port");
    EXPECT_EQ(b.dialogs.boxes[0].caption, "Info");
    EXPECT_FALSE(w.port().is_open());
    EXPECT_EQ(w.port().get_timeout(), 100u);
    EXPECT_FALSE(d.isVisible());

    w.SelectComPort1Click();
    d.TimeoutComboBox->setEditText("10");
    d.BitBtnCancel->click();
    EXPECT_EQ(w.port().get_timeout(), 100u);            // Cancel applies nothing
    EXPECT_EQ(d.TimeoutComboBox->currentText(), "10");  // kept for the next showing
}

TEST(PortDialog, APortTypedByHandIsShownAgainAndKeptByOk) {
    WindowBench b;  // lists b.sim's port only
    Tmain_window& w = *b.w;
    TCommDialog& d = *w.CommDialog;
    SimController typed;
    w.SelectComPort1Click();
    const int listed = d.ComPortComboBox->count();
    click_for_focus(d.ComPortComboBox);
    press_key(Qt::Key_A, Qt::ControlModifier);
    type_keys(QString::fromStdString(typed.path()));
    press_key(Qt::Key_Return);  // OK is the default button
    EXPECT_FALSE(d.isVisible());
    ASSERT_EQ(w.PortName, typed.path());

    w.SelectComPort1Click();
    EXPECT_EQ(d.ComPortComboBox->currentText().toStdString(), typed.path());
    EXPECT_EQ(d.ComPortComboBox->count(), listed + 1);
    d.BitBtnOk->click();
    EXPECT_EQ(w.PortName, typed.path());
    w.cmbCommand->setEditText("A");
    w.BtnCmd->click();
    EXPECT_EQ(typed.received(), "#1A\r");
    EXPECT_EQ(b.lines(), std::vector<std::string>{"A"});
    EXPECT_EQ(b.sim.received(), "");
}

TEST(PortDialog, RestoringTheMinimisedDialogKeepsWhatWasTyped) {
    WindowBench b;
    TCommDialog& d = *b.w->CommDialog;
    b.w->SelectComPort1Click();
    d.ComPortComboBox->setEditText("/dev/typed-port");
    d.BaudrateComboBox->setEditText("9600");
    d.setWindowState(Qt::WindowMinimized);
    d.setWindowState(Qt::WindowNoState);
    EXPECT_EQ(d.ComPortComboBox->currentText(), "/dev/typed-port");
    EXPECT_EQ(d.BaudrateComboBox->currentText(), "9600");

    d.hide();
    b.w->SelectComPort1Click();  // a new showing refreshes both
    EXPECT_EQ(d.ComPortComboBox->currentText().toStdString(), b.sim.path());
    EXPECT_EQ(d.BaudrateComboBox->currentText(), "115200");
}

}  // namespace
