// The full EEPROM dump against the simulated controller paced at 115,200
// baud, compared with the time the bytes alone need on the line: every
// command and every reply, ten bits per byte. Run four ways: the bare
// queries, the dump with a reporter that does nothing between bytes, with a
// small window (progress bar and message area) whose events run during every
// byte, and from the main window's EEProm Dump button, as a user starts it.
// The last two also show how often a 5 ms window timer got its turn.
//
// Then, on one main window and in turns so that all meet the same load, the
// bare queries, the dump loop in its previous order (events after each
// reply) and the dump itself, each also with costly event passes. On a
// loaded machine the turns are the figures to compare.
//
// It runs offscreen unless QT_QPA_PLATFORM says otherwise; for the real X11
// client path: xvfb-run -a env QT_QPA_PLATFORM=xcb bench_dump.

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
#include "dump_bound.h"
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

double bound_seconds(const SimController& sim, const motor_com& motor,
                     DumpRange range = kEEPromDump) {
    return DumpBoundSeconds(sim, motor, range, kBaud);
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

// A main window shown on the paced line, its save dialog answered at once.
struct MainWindowOnLine {
    explicit MainWindowOnLine(const std::string& file)
        : sim(paced()), dialogs(file), window(dialogs) {
        fill_eeprom(sim);
        window.SetComPort(sim.path());
        window.port().set_baud(kBaud);
        window.port().flush_input();
        window.show();
        window.PageControl->setCurrentWidget(window.tabMaintenance);
        QApplication::processEvents();
    }
    SimController sim;
    BenchDialogs dialogs;
    Tmain_window window;
};

// The user's path: the shown main window on the paced line, its EEProm Dump
// button clicked, the save dialog answered at once.
Result run_window_dump(const std::string& file) {
    MainWindowOnLine line(file);
    TickGaps ticks;
    ticks.start();
    Result r = timed([&] { line.window.btnDumpEEProm->click(); });
    ticks.stop();
    check_exchanges(line.sim);
    r.bound_seconds = bound_seconds(line.sim, line.window.motor());
    r.responsiveness = ticks.summary(r.seconds);
    return r;
}

// Window events that cost as much as a pass of a real X11 desktop can
// (painting through the display server): a zero timer that keeps the event
// pass busy for `cost` whenever it runs.
class CostlyPasses {
public:
    explicit CostlyPasses(std::chrono::microseconds cost) : cost_(cost) {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const auto until = std::chrono::steady_clock::now() + cost_;
            while (std::chrono::steady_clock::now() < until) {
            }
            ++passes_;
        });
    }
    void start() { timer_.start(); }
    void stop() { timer_.stop(); }
    long passes() const { return passes_; }

private:
    QTimer timer_;
    std::chrono::microseconds cost_;
    long passes_ = 0;
};

// The same addresses five ways on one main window, taken in turns chunk by
// chunk so that all meet the same load: the bare queries; the dump loop in
// its previous order (the query, then the window's events) and the dump
// itself with the window as its reporter; and both again with event passes
// as costly as on a real desktop.
void run_paired(const std::string& file) {
    constexpr int kChunk = 512;
    constexpr int kWays = 5;
    constexpr auto kPassCost = std::chrono::microseconds(250);
    const char* const names[kWays] = {"bare queries", "previous order: query, then events",
                                      "dump with the main window", "previous order, 250 us passes",
                                      "dump, 250 us passes"};
    MainWindowOnLine line(file);
    Tmain_window& w = line.window;
    FixedName host(file);
    CostlyPasses costly(kPassCost);
    const auto previous_order = [&](DumpRange range) {
        w.set_progress_max(range.last);
        w.set_progress_min(range.first);
        for (int a = range.first; a <= range.last; ++a) {
            dump_value(w.motor().query("(E" + std::to_string(a)));
            w.set_progress_position(a);
            w.process_events();
        }
    };
    const auto ways = [&](int way, DumpRange range) {
        if (way >= 3) costly.start();
        switch (way) {
            case 0:
                for (int a = range.first; a <= range.last; ++a) {
                    w.motor().query("(E" + std::to_string(a));
                }
                break;
            case 1:
            case 3:
                previous_order(range);
                break;
            default:
                DumpMemory(w.motor(), w, host, range);
                break;
        }
        costly.stop();
    };
    double seconds[kWays] = {};
    double bound = 0;
    int turn = 0;
    for (int first = kEEPromDump.first; first <= kEEPromDump.last; first += kChunk, ++turn) {
        const DumpRange range{first, std::min(first + kChunk - 1, kEEPromDump.last)};
        bound += bound_seconds(line.sim, w.motor(), range);
        for (int k = 0; k < kWays; ++k) {
            const int way = (turn + k) % kWays;
            seconds[way] += timed([&] { ways(way, range); }).seconds;
        }
    }
    std::printf("in turns, %d addresses at a time (ratio to the bound, and to the bare queries):\n",
                kChunk);
    for (int way = 0; way < kWays; ++way) {
        std::printf("  %-36s %7.3f s  ratio %.3f  %.3f\n", names[way], seconds[way],
                    seconds[way] / bound, seconds[way] / seconds[0]);
    }
    std::printf("  (%ld costly passes ran in the last two ways)\n", costly.passes());
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

// bench_dump [ROUNDS]: each round runs the four ways once, then the five
// ways in turns; with more than one round the spread of the first follows.
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
        run_paired(file);
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
