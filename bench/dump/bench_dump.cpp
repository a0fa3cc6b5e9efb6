// The full EEPROM dump against the simulated controller paced at 115,200
// baud, compared with the time the bytes alone need on the line: every
// command and every reply, ten bits per byte. Run twice: with a reporter that
// does nothing between bytes, and with a real offscreen window (progress bar
// and message area) whose events are processed after every byte.

#include <QApplication>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "dump/dump.h"
#include "motor/motor_com.h"
#include "serial/serial.h"
#include "sim/sim.h"

namespace {

constexpr std::uint32_t kBaud = 115200;

class QuietReporter : public Reporter {
public:
    void message(const std::string& line) override { std::fprintf(stderr, "%s\n", line.c_str()); }
    void box(const std::string&, const std::string&, BoxIcon) override {}
    void process_events() override {}
    void set_progress_min(int) override {}
    void set_progress_max(int) override {}
    void set_progress_position(int value) override { position_ = value; }
    int progress_position() const override { return position_; }
    void repaint_progress() override {}

private:
    int position_ = 0;
};

// A shown window whose progress bar follows the dump and whose event queue
// is run after every byte, as the main window's is.
class WindowReporter : public Reporter {
public:
    WindowReporter() {
        auto* layout = new QVBoxLayout(&window_);
        memo_ = new QPlainTextEdit;
        bar_ = new QProgressBar;
        layout->addWidget(memo_);
        layout->addWidget(bar_);
        window_.resize(800, 600);
        window_.show();
    }
    void message(const std::string& line) override {
        memo_->appendPlainText(QString::fromStdString(line));
    }
    void box(const std::string&, const std::string&, BoxIcon) override {}
    void process_events() override {
        QApplication::processEvents();
        ++events_;
    }
    void set_progress_min(int value) override { bar_->setMinimum(value); }
    void set_progress_max(int value) override { bar_->setMaximum(value); }
    void set_progress_position(int value) override { bar_->setValue(value); }
    int progress_position() const override { return bar_->value(); }
    void repaint_progress() override { bar_->repaint(); }
    long events() const { return events_; }

private:
    QWidget window_;
    QPlainTextEdit* memo_;
    QProgressBar* bar_;
    long events_ = 0;
};

class FixedName : public DumpHost {
public:
    explicit FixedName(std::string name) : name_(std::move(name)) {}
    std::optional<std::string> ask_dump_file_name() override { return name_; }

private:
    std::string name_;
};

struct Result {
    double seconds;
    double bound_seconds;
};

Result run(Reporter& reporter, const std::string& file) {
    SimConfig config;
    config.pace_baud = kBaud;
    SimController sim(config);
    for (int a = kEEPromDump.first; a <= kEEPromDump.last; ++a) sim.set_eeprom(a, (a * 7) & 0xFF);

    serial port(reporter, sim.path(), 100);
    port.set_baud(kBaud);
    motor_com motor(port);
    FixedName host(file);

    // Open the port before timing: the first exchange should not carry it.
    port.flush_input();

    const auto start = std::chrono::steady_clock::now();
    DumpMemory(motor, reporter, host, kEEPromDump);
    const auto end = std::chrono::steady_clock::now();

    std::size_t wire_bytes = 0;
    for (int a = kEEPromDump.first; a <= kEEPromDump.last; ++a) {
        wire_bytes += motor.frame("(E" + std::to_string(a)).size();
        // "001" + "+" + value + CR
        wire_bytes += 3 + 1 + std::to_string(sim.eeprom(a)).size() + 1;
    }
    if (sim.commands().size() != static_cast<std::size_t>(kEEPromDump.last + 1)) {
        std::fprintf(stderr, "unexpected exchange count %zu\n", sim.commands().size());
    }
    return {std::chrono::duration<double>(end - start).count(), wire_bytes * 10.0 / kBaud};
}

void print(const char* name, const Result& r) {
    std::printf("%-34s %8.3f s   line-rate bound %8.3f s   ratio %.3f\n", name, r.seconds,
                r.bound_seconds, r.seconds / r.bound_seconds);
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    const std::string file =
        (std::filesystem::temp_directory_path() / ("bench_dump_" + std::to_string(getpid()) + ".eed"))
            .string();

    std::printf("EEPROM dump, 16,385 exchanges at %u baud\n", kBaud);
    QuietReporter quiet;
    print("no event processing", run(quiet, file));
    WindowReporter window;
    print("window events after every byte", run(window, file));
    std::printf("(window event passes: %ld)\n", window.events());

    std::filesystem::remove(file);
    return 0;
}
