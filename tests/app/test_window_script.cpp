// A script run from the window when the window goes away under it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>

#include "window_bench.h"

namespace {

// Closing the window must end a repeating run (and a long wait in it) rather
// than leave it talking to the controller from a window nobody sees.
TEST(WindowScript, ClosingTheWindowEndsARepeatingRun) {
    WindowBench b;
    Tmain_window& w = *b.w;
    // The test's application must outlive this window.
    const bool quit_on_close = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(false);
    w.show();
    w.PageControl->setCurrentWidget(w.ConfigTab);
    w.Config_View->setPlainText("A\n#tm5000\nB");
    w.RepeatCheckBox->setChecked(true);
    QTimer::singleShot(300, &w, [&] { w.close(); });
    // Only a safety net for a run that would not end.
    QTimer::singleShot(8000, &w, [&] { w.RepeatCheckBox->setChecked(false); });

    QElapsedTimer clock;
    clock.start();
    w.ActionBtn->click();
    QApplication::setQuitOnLastWindowClosed(quit_on_close);

    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(b.sim.received(), "#1A\r");
    EXPECT_FALSE(w.cmdTimer->isActive());
    EXPECT_EQ(w.cmdTimer->interval(), 100);
    EXPECT_EQ(w.port().get_timeout(), 100u);
    EXPECT_FALSE(w.Guard.busy());
}

// A script lets events run while it waits, so Write can be clicked again in
// the middle of a run; a second run must not start and interleave its
// commands with the first.
TEST(WindowScript, WriteClickedDuringARunIsRefused) {
    WindowBench b;
    Tmain_window& w = *b.w;
    w.PageControl->setCurrentWidget(w.ConfigTab);
    w.Config_View->setPlainText("#tm300\nA");
    QTimer::singleShot(50, &w, [&] { w.ActionBtn->click(); });
    w.ActionBtn->click();

    EXPECT_EQ(b.sim.received(), "#1A\r");
    const std::vector<std::string> lines = b.lines();
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "Busy: the script is still using the serial line"),
        lines.end());
    EXPECT_FALSE(w.Guard.busy());
}

}  // namespace
