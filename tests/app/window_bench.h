#pragma once
// A main window on the simulated controller's pseudo-terminal, its boxes and
// dialogs answered by FakeDialogs.

#include <QPlainTextEdit>
#include <QTextBlock>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "fake_dialogs.h"
#include "serial/serial.h"
#include "sim/sim.h"

// Lists the simulator's pty first, as the demo run does, while it lives.
struct ExtraPort {
    explicit ExtraPort(const std::string& path) { qputenv("KFU_EXTRA_PORTS", QByteArray::fromStdString(path)); }
    ~ExtraPort() { qunsetenv("KFU_EXTRA_PORTS"); }
};

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
    std::string last_line() const {
        const auto l = lines();
        return l.empty() ? std::string() : l.back();
    }
};
