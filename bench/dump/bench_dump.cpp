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

#include "quiet_reporter.h"
#include "dump/dump.h"
#include "motor/motor_com.h"
#include "serial/serial.h"
#include "sim/sim.h"

namespace {

constexpr std::uint32_t kBaud = 115200;


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

// One simulated controller paced at the line rate, with a value in every
// address so that replies have their usual lengths.
struct Line {
    explicit Line(Reporter& reporter) : sim(paced()), port(reporter, sim.path(), 100), motor(port) {
        for (int a = kEEPromDump.first; a <= kEEPromDump.last; ++a) sim.set_eeprom(a, (a * 7) & 0xFF);
        port.set_baud(kBaud);
        // Open the port before timing: the first exchange should not carry it.
        port.flush_input();
    }
    static SimConfig paced() {
        SimConfig config;
        config.pace_baud = kBaud;
        return config;
    }
    // Ten bits per byte of every command and every reply ("001" + "+" +
    // value + CR) of the full dump.
    double bound_seconds() const {
        std::size_t wire_bytes = 0;
        for (int a = kEEPromDump.first; a <= kEEPromDump.last; ++a) {
            wire_bytes += motor.frame("(E" + std::to_string(a)).size();
            wire_bytes += 3 + 1 + std::to_string(sim.eeprom(a)).size() + 1;
        }
        return wire_bytes * 10.0 / kBaud;
    }
    void check_exchanges() const {
        if (sim.commands().size() != static_cast<std::size_t>(kEEPromDump.last + 1)) {
            std::fprintf(stderr, "unexpected exchange count %zu\n", sim.commands().size());
        }
    }

    SimController sim;
    serial port;
    motor_com motor;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The same exchanges without the dump around them: what this machine's
// pseudo-terminals and the simulator's pacing allow at best.
Result run_plain_queries(Reporter& reporter) {
    Line line(reporter);
    const auto start = std::chrono::steady_clock::now();
    for (int a = kEEPromDump.first; a <= kEEPromDump.last; ++a) line.motor.query("(E" + std::to_string(a));
    const double seconds = seconds_since(start);
    line.check_exchanges();
    return {seconds, line.bound_seconds()};
}

Result run_dump(Reporter& reporter, const std::string& file) {
    Line line(reporter);
    FixedName host(file);
    const auto start = std::chrono::steady_clock::now();
    DumpMemory(line.motor, reporter, host, kEEPromDump);
    const double seconds = seconds_since(start);
    line.check_exchanges();
    return {seconds, line.bound_seconds()};
}

void print(const char* name, const Result& r, const Result& plain) {
    std::printf("%-32s %8.3f s   vs line-rate bound %.3f   vs plain queries %.3f\n", name, r.seconds,
                r.seconds / r.bound_seconds, r.seconds / plain.seconds);
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
    const Result plain = run_plain_queries(quiet);
    std::printf("line-rate bound                  %8.3f s\n", plain.bound_seconds);
    print("plain queries, no dump", plain, plain);
    print("dump, no event processing", run_dump(quiet, file), plain);
    WindowReporter window;
    print("dump, window events every byte", run_dump(window, file), plain);

    // What one event pass of the window costs by itself, with the progress
    // bar moving as during a dump.
    window.set_progress_max(kEEPromDump.last);
    const auto start = std::chrono::steady_clock::now();
    for (int a = kEEPromDump.first; a <= kEEPromDump.last; ++a) {
        window.set_progress_position(a);
        window.process_events();
    }
    std::printf("one window event pass alone      %8.1f us\n",
                seconds_since(start) * 1e6 / (kEEPromDump.last + 1));
    std::filesystem::remove(file);
    return 0;
}
