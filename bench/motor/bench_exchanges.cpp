// 16,385 "(E" exchanges through motor_com against the simulated controller.
//
// Unpaced, the exchange rate and the tool's own CPU time per exchange are set
// against a baseline in the same run: the same exchanges done with bare
// write/poll/read calls on the pty. Paced at 115,200 baud, the elapsed time is
// set against the line-rate bound: every byte of every command and reply,
// ten bits each, and against the bare exchanges paced the same way. The
// simulator runs on its own thread, so the CPU time is that of the calling
// thread only.

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "motor/motor_com.h"
#include "quiet_reporter.h"
#include "serial/serial.h"
#include "sim/sim.h"
#include "trace_option.h"

namespace {

constexpr int kExchanges = 16385;
constexpr std::uint32_t kBaud = 115200;


double thread_cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Figures {
    double seconds = 0;
    double cpu_seconds = 0;
    int wrong = 0;  // replies that did not carry the expected value
};

template <typename Exchange>
Figures measure(Exchange exchange) {
    Figures f;
    const double cpu0 = thread_cpu_seconds();
    const auto t0 = std::chrono::steady_clock::now();
    for (int a = 0; a < kExchanges; ++a) {
        if (exchange(a) != (a & 0xFF)) ++f.wrong;
    }
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    f.cpu_seconds = thread_cpu_seconds() - cpu0;
    return f;
}

// The baseline: one exchange with nothing but the system calls it needs.
int bare_exchange(int fd, int address) {
    const std::string frame = "#1(E" + std::to_string(address) + "\r";
    if (::write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) return -1;
    std::string reply;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0) return -1;
        char c;
        if (::read(fd, &c, 1) != 1) return -1;
        if (c == '\r') break;
        reply += c;
    }
    const std::size_t plus = reply.find('+');
    return plus == std::string::npos ? -1 : std::stoi(reply.substr(plus + 1));
}

Figures measure_bare(std::uint32_t pace_baud) {
    SimConfig config;
    config.pace_baud = pace_baud;
    SimController sim(config);
    const int fd = ::open(sim.path().c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    const Figures f = measure([fd](int a) { return bare_exchange(fd, a); });
    ::close(fd);
    return f;
}

void print(const char* name, const Figures& f) {
    std::printf("%-28s %8.3f s  %9.0f exchanges/s  CPU %6.2f us/exchange%s\n", name, f.seconds,
                kExchanges / f.seconds, f.cpu_seconds * 1e6 / kExchanges,
                f.wrong ? "  (WRONG REPLIES)" : "");
}

}  // namespace

int main(int argc, char** argv) {
    const TraceOption traced(argc, argv);
    QuietReporter out;
    std::printf("%d \"(E\" exchanges through motor_com\n\n", kExchanges);

    const Figures bare = measure_bare(0);
    print("baseline (bare syscalls)", bare);

    Figures unpaced;
    {
        SimController sim;
        serial port(out, sim.path(), 100);
        traced.attach(port, "unpaced");
        motor_com motor(port);
        port.open();
        unpaced = measure([&motor](int a) { return motor.query_number("(E" + std::to_string(a)); });
    }
    print("motor_com, unpaced", unpaced);
    std::printf("%-28s %8.2f x baseline time, %.2f x baseline CPU\n\n", "", unpaced.seconds / bare.seconds,
                unpaced.cpu_seconds / bare.cpu_seconds);

    Figures paced;
    double bound = 0;
    {
        SimConfig config;
        config.pace_baud = kBaud;
        SimController sim(config);
        serial port(out, sim.path(), 100);
        port.set_baud(kBaud);
        traced.attach(port, "paced");
        motor_com motor(port);
        port.open();
        paced = measure([&motor](int a) { return motor.query_number("(E" + std::to_string(a)); });
        std::size_t wire_bytes = sim.received().size();
        for (int a = 0; a < kExchanges; ++a) wire_bytes += 3 + 1 + std::to_string(a & 0xFF).size() + 1;
        bound = wire_bytes * 10.0 / kBaud;
    }
    print("motor_com, paced 115200", paced);
    std::printf("%-28s %8.3f s line-rate bound, ratio %.3f (target <= 1.05)\n", "", bound,
                paced.seconds / bound);
    const Figures bare_paced = measure_bare(kBaud);
    print("baseline paced 115200", bare_paced);
    std::printf("%-28s ratio %.3f to the bound: what the pty and the simulator cost by themselves\n",
                "", bare_paced.seconds / bound);
    const double cpu_us = unpaced.cpu_seconds * 1e6 / kExchanges;
    std::printf("%-28s CPU %.2f us/exchange unpaced (target <= 50)\n", "", cpu_us);
    return unpaced.wrong || paced.wrong || bare.wrong || bare_paced.wrong ? 1 : 0;
}
