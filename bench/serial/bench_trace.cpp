// What the wire trace costs: the same work with tracing off and on, over
// several rounds, against the simulated controller.
//
//  - "(E" exchanges through motor_com, the simulator pacing at 115,200 baud:
//    the elapsed time (what the line sees), in blocks of 32 taken in turns
//    with the trace off and on, on one port;
//  - a 1536-byte-mode write of a full image, paced the same way, off and on
//    in alternating order;
//  - the exchanges unpaced, in turns as above: the tool's CPU time per
//    exchange (what the trace costs the machine; the line never waits for it).
//
// The paced figures are what must not move: target, on/off ratio of the
// medians within 1 %. They depend on the machine being otherwise quiet; the
// spread over the rounds is printed with them.
//
//   bench_trace [ROUNDS]     (default 3)

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "firmware/flashmem.h"
#include "motor/motor_com.h"
#include "paced_write.h"
#include "quiet_reporter.h"
#include "serial/serial.h"
#include "serial/wire_trace.h"
#include "sim/sim.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kBaud = 115200;
constexpr int kPacedExchanges = 4096;     // on each side
constexpr int kUnpacedExchanges = 16384;  // on each side
constexpr int kBlock = 32;
// The acknowledgement read must outlast a whole frame crossing the paced
// line (see bench_write).
constexpr std::uint32_t kWriteTimeoutMs = 150;
constexpr double kTarget = 1.01;

double thread_cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Traced {
    std::filesystem::path dir;
    std::uintmax_t bytes = 0;

    // A trace for `port` when `on`, in a file of its own.
    void attach(serial& port, bool on, const std::string& name) {
        if (!on) return;
        std::string error;
        auto trace = WireTrace::start((dir / (name + ".trace")).string(),
                                      {"bench_trace", nullptr, WireTrace::kPartBytes}, error);
        if (!trace) {
            std::fprintf(stderr, "cannot trace: %s\n", error.c_str());
            std::exit(2);
        }
        port.set_trace(std::move(trace));
    }
    void count(const std::string& name) {
        std::error_code ignored;
        bytes = std::max(bytes, std::filesystem::file_size(dir / (name + ".trace"), ignored));
    }
};

struct Series {
    std::vector<double> off, on;

    static double median(std::vector<double> v) {
        std::sort(v.begin(), v.end());
        const std::size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }
    double ratio() const { return median(on) / median(off); }
    void print(const char* name, const char* unit, double scale) const {
        auto spread = [&](const std::vector<double>& v) {
            const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
            std::printf("%9.3f %s (%.3f ... %.3f)", median(v) * scale, unit, *lo * scale,
                        *hi * scale);
        };
        std::printf("%-34s off ", name);
        spread(off);
        std::printf("\n%-34s on  ", "");
        spread(on);
        std::vector<double> paired;
        for (std::size_t i = 0; i < off.size(); ++i) paired.push_back(on[i] / off[i]);
        const auto [lo, hi] = std::minmax_element(paired.begin(), paired.end());
        std::printf("\n%-34s on/off %.4f (rounds %.4f ... %.4f)\n", "", ratio(), *lo, *hi);
    }
};

bool check_exchanges(motor_com& motor, int first, int count) {
    bool right = true;
    // The simulator's EEPROM holds 16,385 cells, each its address's low byte.
    for (int a = first % 16384; a < first % 16384 + count; ++a) {
        right = motor.query_number("(E" + std::to_string(a)) == (a & 0xFF) && right;
    }
    return right;
}

// The exchanges in blocks taken in turns on one port, the trace switched on
// for every other block (off, on, on, off, ...: a steady drift of the
// machine's load falls on both alike). A loaded machine's pauses land on
// both sides within the same seconds, which whole separate runs never
// manage. `measure` is the clock; the figures are its totals per side.
template <typename Measure>
void exchanges_in_turns(serial& port, motor_com& motor, Traced& t, const std::string& name,
                        int per_side, int block, Measure measure, double& off, double& on,
                        bool& right) {
    std::string error;
    auto trace = WireTrace::start((t.dir / (name + ".trace")).string(),
                                  {"bench_trace", nullptr, WireTrace::kPartBytes}, error);
    if (!trace) {
        std::fprintf(stderr, "cannot trace: %s\n", error.c_str());
        std::exit(2);
    }
    port.open();
    off = on = 0;
    for (int b = 0; b < 2 * per_side / block; ++b) {
        const bool traced = (b % 4 == 1) || (b % 4 == 2);
        port.set_trace(traced ? trace : nullptr);
        const double before = measure();
        right = check_exchanges(motor, b * block, block) && right;
        (traced ? on : off) += measure() - before;
    }
    port.set_trace(nullptr);
    trace.reset();
    t.count(name);
}

double wall_seconds() {
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

void paced_exchanges(Traced& t, Series& series, bool& right) {
    SimConfig config;
    config.pace_baud = kBaud;
    SimController sim(config);
    QuietReporter out;
    serial port(out, sim.path(), 100);
    port.set_baud(kBaud);
    motor_com motor(port);
    double off = 0, on = 0;
    exchanges_in_turns(port, motor, t, "exchanges", kPacedExchanges, kBlock, wall_seconds, off, on,
                       right);
    series.off.push_back(off);
    series.on.push_back(on);
}

void unpaced_cpu_us(Traced& t, Series& series, bool& right) {
    SimController sim;
    QuietReporter out;
    serial port(out, sim.path(), 100);
    motor_com motor(port);
    double off = 0, on = 0;
    exchanges_in_turns(port, motor, t, "unpaced", kUnpacedExchanges, kBlock, thread_cpu_seconds,
                       off, on, right);
    series.off.push_back(off * 1e6 / kUnpacedExchanges);
    series.on.push_back(on * 1e6 / kUnpacedExchanges);
}

double paced_write(Traced& t, bool on, bool& right) {
    SimController sim(PacedBootloader(kBaud));
    QuietReporter out;
    serial port(out, sim.path(), kWriteTimeoutMs);
    t.attach(port, on, "write");
    BenchWindow window;
    FirmwareImage image;
    FillFullImage(image);
    const auto t0 = Clock::now();
    right = WriteFirmware(port, image, out, window) && right;
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    port.set_trace(nullptr);
    if (on) t.count("write");
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    Traced traced;
    traced.dir = std::filesystem::temp_directory_path() /
                 ("kfu-bench-trace-" + std::to_string(Clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(traced.dir);

    std::printf("Wire trace off and on, %d rounds, medians (min ... max)\n\n", rounds);
    bool right = true;
    Series exchanges, write, cpu;
    for (int round = 0; round < rounds; ++round) {
        // Alternating the order spreads any drift of the machine over both.
        paced_exchanges(traced, exchanges, right);
        unpaced_cpu_us(traced, cpu, right);
        for (const bool on : {round % 2 == 1, round % 2 == 0}) {
            (on ? write.on : write.off).push_back(paced_write(traced, on, right));
        }
        std::fprintf(stderr, "round %d done\n", round + 1);
    }
    exchanges.print("4,096 exchanges, paced 115200", "s ", 1);
    write.print("1536-byte write, paced 115200", "s ", 1);
    cpu.print("16,384 exchanges unpaced, CPU", "us", 1);
    std::printf("\nlargest trace file: %.1f MiB\n", traced.bytes / 1048576.0);
    std::printf("paced on/off ratios %.4f and %.4f (target <= %.2f)\n", exchanges.ratio(),
                write.ratio(), kTarget);

    std::error_code ignored;
    std::filesystem::remove_all(traced.dir, ignored);
    if (!right) std::printf("WRONG REPLIES OR A FAILED WRITE\n");
    return right ? 0 : 1;
}
