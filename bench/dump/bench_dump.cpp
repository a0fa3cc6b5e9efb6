// The full EEPROM dump against the simulated controller paced at 115,200
// baud, compared with the time the bytes alone need on the line: every
// command and every reply, ten bits per byte. Run three ways: with a reporter
// that does nothing between bytes, with a small offscreen window (progress
// bar and message area) whose events are processed during every byte, and
// from the real main window's EEProm Dump button, as a user starts it. The
// last two also show how often a 5 ms window timer got its turn meanwhile.

#include <sys/resource.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "dump/dump.h"
#include "motor/motor_com.h"
#include "quiet_reporter.h"
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

// Answers the main window's save dialog with a fixed name, everything else
// with nothing.
class BenchDialogs : public Dialogs {
public:
    explicit BenchDialogs(std::string name) : name_(std::move(name)) {}
    void box(QWidget*, const std::string& text, const std::string&, BoxIcon) override {
        std::fprintf(stderr, "box: %s\n", text.c_str());
    }
    std::optional<std::string> open_file(QWidget*, FileDialogSettings&) override { return {}; }
    std::optional<std::string> save_file(QWidget*, FileDialogSettings&) override { return name_; }
    void run_modal(QDialog&) override {}

private:
    std::string name_;
};

// How the event loop kept up during a run: a 5 ms timer's gaps between turns.
class TickGaps {
public:
    TickGaps() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const auto now = std::chrono::steady_clock::now();
            if (ticks_ > 0) {
                const double gap = std::chrono::duration<double, std::milli>(now - last_).count();
                worst_ms_ = std::max(worst_ms_, gap);
            }
            last_ = now;
            ++ticks_;
        });
    }
    void start() {
        ticks_ = 0;
        worst_ms_ = 0;
        timer_.start();
    }
    void stop() { timer_.stop(); }
    std::string summary(double seconds) const {
        char text[96];
        std::snprintf(text, sizeof text, "5 ms timer: %ld turns (mean gap %.1f ms, worst %.1f ms)",
                      ticks_, ticks_ > 1 ? seconds * 1000.0 / ticks_ : 0.0, worst_ms_);
        return text;
    }

private:
    QTimer timer_;
    std::chrono::steady_clock::time_point last_{};
    long ticks_ = 0;
    double worst_ms_ = 0;
};

struct Result {
    double seconds = 0;
    double bound_seconds = 0;
    double cpu_seconds = 0;  // the dumping thread's own
    std::string responsiveness;
    double ratio() const { return seconds / bound_seconds; }
};

// One simulated controller paced at the line rate, with a value in every
// address so that replies have their usual lengths.
SimConfig paced() {
    SimConfig config;
    config.pace_baud = kBaud;
    return config;
}

void fill_eeprom(SimController& sim) {
    for (int a = kEEPromDump.first; a <= kEEPromDump.last; ++a) sim.set_eeprom(a, (a * 7) & 0xFF);
}

// Ten bits per byte of every command and every reply ("001" + "+" + value +
// CR) of the full dump.
double bound_seconds(const SimController& sim, const motor_com& motor) {
    std::size_t wire_bytes = 0;
    for (int a = kEEPromDump.first; a <= kEEPromDump.last; ++a) {
        wire_bytes += motor.frame("(E" + std::to_string(a)).size();
        wire_bytes += 3 + 1 + std::to_string(sim.eeprom(a)).size() + 1;
    }
    return wire_bytes * 10.0 / kBaud;
}

void check_exchanges(const SimController& sim) {
    if (sim.commands().size() != static_cast<std::size_t>(kEEPromDump.last + 1)) {
        std::fprintf(stderr, "unexpected exchange count %zu\n", sim.commands().size());
    }
}

struct Line {
    explicit Line(Reporter& reporter) : sim(paced()), port(reporter, sim.path(), 100), motor(port) {
        fill_eeprom(sim);
        port.set_baud(kBaud);
        // Open the port before timing: the first exchange should not carry it.
        port.flush_input();
    }
    SimController sim;
    serial port;
    motor_com motor;
};

double thread_cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Times `work` by the wall clock and by this thread's CPU.
template <typename Work>
Result timed(Work&& work) {
    Result r;
    const double cpu0 = thread_cpu_seconds();
    const auto start = std::chrono::steady_clock::now();
    work();
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.cpu_seconds = thread_cpu_seconds() - cpu0;
    return r;
}

// The same exchanges without the dump around them: what this machine's
// pseudo-terminals and the simulator's pacing allow at best.
Result run_plain_queries(Reporter& reporter) {
    Line line(reporter);
    Result r = timed([&] {
        for (int a = kEEPromDump.first; a <= kEEPromDump.last; ++a) {
            line.motor.query("(E" + std::to_string(a));
        }
    });
    check_exchanges(line.sim);
    r.bound_seconds = bound_seconds(line.sim, line.motor);
    return r;
}

Result run_dump(Reporter& reporter, const std::string& file, bool window) {
    Line line(reporter);
    FixedName host(file);
    TickGaps ticks;
    if (window) ticks.start();
    Result r = timed([&] { DumpMemory(line.motor, reporter, host, kEEPromDump); });
    ticks.stop();
    check_exchanges(line.sim);
    r.bound_seconds = bound_seconds(line.sim, line.motor);
    if (window) r.responsiveness = ticks.summary(r.seconds);
    return r;
}

// The user's path: the shown main window on the paced line, its EEProm Dump
// button clicked, the save dialog answered at once.
Result run_window_dump(const std::string& file) {
    SimController sim(paced());
    fill_eeprom(sim);
    BenchDialogs dialogs(file);
    Tmain_window window(dialogs);
    window.SetComPort(sim.path());
    window.port().set_baud(kBaud);
    window.port().flush_input();
    window.show();
    window.PageControl->setCurrentWidget(window.tabMaintenance);
    QApplication::processEvents();

    TickGaps ticks;
    ticks.start();
    Result r = timed([&] { window.btnDumpEEProm->click(); });
    ticks.stop();
    check_exchanges(sim);
    r.bound_seconds = bound_seconds(sim, window.motor());
    r.responsiveness = ticks.summary(r.seconds);
    return r;
}

constexpr int kRuns = 4;
const char* const kNames[kRuns] = {"plain queries, no dump", "dump, no event processing",
                                   "dump, small window's events", "dump from the main window"};

void print(int run, const Result& r) {
    std::printf("%-30s %7.3f s  ratio %.3f  CPU %5.1f us/exchange\n", kNames[run], r.seconds,
                r.ratio(), r.cpu_seconds * 1e6 / (kEEPromDump.last + 1));
    if (!r.responsiveness.empty()) std::printf("%-30s %s\n", "", r.responsiveness.c_str());
}

}  // namespace

// bench_dump [ROUNDS]: each round runs the four ways once; with more than one
// round the spread of the ratios follows.
int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    QApplication app(argc, argv);

    const std::string file = (std::filesystem::temp_directory_path() /
                              ("bench_dump_" + std::to_string(getpid()) + ".eed"))
                                 .string();

    std::printf("EEPROM dump, 16,385 exchanges at %u baud; ratio = time / line-rate bound\n",
                kBaud);
    QuietReporter quiet;
    WindowReporter small;
    std::vector<double> ratios[kRuns];
    for (int round = 1; round <= rounds; ++round) {
        if (rounds > 1) std::printf("round %d\n", round);
        const Result results[kRuns] = {run_plain_queries(quiet), run_dump(quiet, file, false),
                                       run_dump(small, file, true), run_window_dump(file)};
        if (round == 1) std::printf("line-rate bound %.3f s\n", results[0].bound_seconds);
        for (int run = 0; run < kRuns; ++run) {
            print(run, results[run]);
            ratios[run].push_back(results[run].ratio());
        }
    }
    if (rounds > 1) {
        std::printf("spread over %d rounds (min / median / max ratio)\n", rounds);
        for (int run = 0; run < kRuns; ++run) {
            std::vector<double>& v = ratios[run];
            std::sort(v.begin(), v.end());
            std::printf("%-30s %.3f / %.3f / %.3f\n", kNames[run], v.front(), v[v.size() / 2],
                        v.back());
        }
    }

    // What one event pass of the small window costs by itself, with the
    // progress bar moving as during a dump.
    small.set_progress_max(kEEPromDump.last);
    const Result pass = timed([&] {
        for (int a = kEEPromDump.first; a <= kEEPromDump.last; ++a) {
            small.set_progress_position(a);
            small.process_events();
        }
    });
    std::printf("one small-window event pass alone %.1f us\n",
                pass.seconds * 1e6 / (kEEPromDump.last + 1));
    std::filesystem::remove(file);
    return 0;
}
