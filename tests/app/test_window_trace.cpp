// The wire trace from the window: the Configuration menu's check item, and
// the operations it marks.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <fstream>

#include "support/trace_support.h"
#include "window_bench.h"

namespace {

std::vector<std::string> marks(const ReadBack& back) {
    std::vector<std::string> out;
    for (const auto& r : back.records) {
        if (r.kind != "begin" && r.kind != "end") continue;
        const auto m = parse_mark(r);
        out.push_back(r.kind + " " + m->operation +
                      (r.kind == "end" ? " " + m->result + " " + m->text : ""));
    }
    return out;
}

TEST(WindowTrace, TheCheckItemAsksForAFileAndRecordsUntilUnchecked) {
    WindowBench b;
    Tmain_window& w = *b.w;
    ScratchDir dir;
    const std::string path = dir.file("line.trace");

    ASSERT_TRUE(w.Configuration1->actions().contains(w.TraceSerialLine1));
    EXPECT_EQ(w.TraceSerialLine1->text(), QString::fromUtf8("Trace serial line\u2026"));
    EXPECT_TRUE(w.TraceSerialLine1->isCheckable());
    EXPECT_FALSE(w.TraceSerialLine1->isChecked());

    // A cancelled file dialog leaves the item unchecked and nothing traced.
    w.TraceSerialLine1->trigger();
    EXPECT_EQ(b.dialogs.file_dialogs.back(), "TraceDialog");
    EXPECT_FALSE(w.TraceSerialLine1->isChecked());
    EXPECT_FALSE(w.port().trace());

    b.dialogs.file_answers.push_back(path);
    w.TraceSerialLine1->trigger();
    EXPECT_TRUE(w.TraceSerialLine1->isChecked());
    EXPECT_EQ(b.last_line(), "Trace: recording the serial line in " + path);

    w.cmbCommand->setEditText("A");
    w.BtnCmd->click();
    w.test_con_Btn->click();
    w.TraceSerialLine1->trigger();
    EXPECT_FALSE(w.TraceSerialLine1->isChecked());
    EXPECT_EQ(b.last_line(), "Trace: ended; the serial line's trace is in " + path);
    w.cmbCommand->setEditText("B");
    w.BtnCmd->click();
    EXPECT_EQ(b.sim.received(), "#1A\r#1 \r#1B\r");

    const ReadBack back = read_back(path);
    EXPECT_TRUE(back.summary.ended);
    EXPECT_TRUE(back.header[1].starts_with("# program korvane-util ")) << back.header[1];
    EXPECT_EQ(back.bytes("tx"), "#1A\r#1 \r");
    EXPECT_EQ(back.bytes("rx"), b.sim.sent().substr(0, back.bytes("rx").size()));
    const std::vector<std::string> expected = {"begin console", "end console done A", "begin test",
                                               "end test done <- 001FW 2.41"};
    EXPECT_EQ(marks(back), expected);
}

TEST(WindowTrace, AFileThatCannotBeMadeIsSaidAndLeavesTheItemUnchecked) {
    WindowBench b;
    Tmain_window& w = *b.w;
    ScratchDir dir;
    const std::string path = dir.file("no/such/line.trace");
    b.dialogs.file_answers.push_back(path);
    w.TraceSerialLine1->trigger();
    EXPECT_FALSE(w.TraceSerialLine1->isChecked());
    EXPECT_FALSE(w.port().trace());
    const std::string text =
        "Could not create the trace file " + path + ": No such file or directory";
    ASSERT_EQ(b.dialogs.boxes.size(), 1u);
    EXPECT_EQ(b.dialogs.boxes[0].text, text);
    EXPECT_EQ(b.dialogs.boxes[0].caption, "Error");
    EXPECT_EQ(b.last_line(), "Error: " + text);
}

TEST(WindowTrace, AWriteFromTheFirmwareTabEndsWithItsVerdict) {
    SimConfig config;
    config.start_in_bootloader = true;
    WindowBench b(config);
    Tmain_window& w = *b.w;
    ScratchDir dir;
    const std::string hex = dir.file("motor.hex");
    std::ofstream(hex, std::ios::binary) << ":06000000010203000405EB\n:00000001FF\n";
    b.dialogs.file_answers.push_back(hex);
    w.Open1->trigger();
    b.dialogs.file_answers.push_back(dir.file("write.trace"));
    w.TraceSerialLine1->trigger();

    w.ActionBtn->click();
    ASSERT_EQ(b.last_line(), "Firmware successfully written");
    b.sim.set_silent(true);
    w.ActionBtn->click();
    const std::string failure = b.last_line();
    w.TraceSerialLine1->trigger();

    const ReadBack back = read_back(dir.file("write.trace"));
    const std::vector<std::string> expected = {"begin write",
                                               "end write ok Firmware successfully written",
                                               "begin write", "end write failed " + failure};
    EXPECT_EQ(marks(back), expected);
    EXPECT_EQ(back.bytes("tx"), b.sim.received());
}

TEST(WindowTrace, AnOperationStoppedByClosingTheWindowEndsAsStopped) {
    WindowBench b;
    Tmain_window& w = *b.w;
    ScratchDir dir;
    b.dialogs.file_answers.push_back(dir.file("stop.trace"));
    w.TraceSerialLine1->trigger();
    b.sim.set_silent(true);
    b.dialogs.file_answers.push_back(dir.file("eeprom.eed"));
    const bool quit_on_close = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(false);
    w.show();
    QTimer::singleShot(300, &w, [&] { w.close(); });
    // Only a safety net for a dump that would not end.
    QTimer::singleShot(6000, &w, [&] { w.port().set_port("0"); });
    w.btnDumpEEProm->click();
    QApplication::setQuitOnLastWindowClosed(quit_on_close);
    const std::string stopped = "Stopped: the dump was interrupted, no file was written";
    ASSERT_EQ(b.last_line(), stopped);
    w.TraceSerialLine1->trigger();

    const ReadBack back = read_back(dir.file("stop.trace"));
    const std::vector<std::string> expected = {"begin dump", "end dump stopped " + stopped};
    EXPECT_EQ(marks(back), expected);
}

}  // namespace
