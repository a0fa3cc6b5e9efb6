#pragma once
// A main window on the simulated controller's pseudo-terminal, its boxes and
// dialogs answered by FakeDialogs.

#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QWindow>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "fake_dialogs.h"
#include "serial/serial.h"
#include "sim/sim.h"

// Lists the simulator's pty first, as the demo run does, while it lives.
struct ExtraPort {
    explicit ExtraPort(const std::string& path) {
        qputenv("KFU_EXTRA_PORTS", QByteArray::fromStdString(path));
    }
    ~ExtraPort() { qunsetenv("KFU_EXTRA_PORTS"); }
};

// Clicks `target` as the window system delivers a click (to whatever lies
// under the point in its shown, active window) and returns the widget that
// then holds the keyboard focus, which is where a user's keys go. Keys are
// sent there, never to a hand-picked child: an editable combo box keeps the
// focus and hands keys to its line edit past that child's event filters.
inline QWidget* click_for_focus(QWidget* target) {
    QWidget* top = target->window();
    if (!top->isVisible()) top->show();
    QCoreApplication::processEvents();
    top->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(top));
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      target->mapTo(top, target->rect().center()));
    EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::focusWidget() != nullptr; }, 2000));
    return QApplication::focusWidget();
}

inline void type_keys(const QString& text) { QTest::keyClicks(QApplication::focusWidget(), text); }

inline void press_key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
}

// `bytes` as the file `name` in `dir`; returns its path.
inline std::string write_file(const QTemporaryDir& dir, const char* name,
                              const std::string& bytes) {
    const std::string path = dir.filePath(name).toStdString();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

inline SimConfig in_bootloader() {
    SimConfig c;
    c.start_in_bootloader = true;
    return c;
}

struct WindowBench {
    explicit WindowBench(SimConfig config = {}) : sim(std::move(config)), extra(sim.path()) {
        w = std::make_unique<Tmain_window>(dialogs);
        w->port().set_timeout(20);
    }
    SimController sim;
    ExtraPort extra;
    FakeDialogs dialogs;
    std::unique_ptr<Tmain_window> w;

    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        if (w->Message->document()->isEmpty()) return out;
        for (QTextBlock b = w->Message->document()->begin(); b.isValid(); b = b.next()) {
            out.push_back(b.text().toStdString());
        }
        return out;
    }
    // Writes the file and opens it through the Open action, its dialog
    // answered with the file's path.
    void open_document(const QTemporaryDir& dir, const char* name, const std::string& bytes) {
        dialogs.file_answers.push_back(write_file(dir, name, bytes));
        w->Open1->trigger();
    }
    std::string last_line() const {
        const auto l = lines();
        return l.empty() ? std::string() : l.back();
    }
};
