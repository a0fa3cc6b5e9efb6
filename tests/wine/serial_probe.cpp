// A Windows program that drives the serial and motor layers over a real COM
// port, one job per run, and prints what it saw. The Wine tests run it against
// the simulated controller on the other end of the port and compare.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "motor/motor_com.h"
#include "serial/serial.h"

namespace {

class PrintingReporter : public Reporter {
public:
    void message(const std::string& line) override { std::printf("line: %s\n", line.c_str()); }
    void box(const std::string& text, const std::string& caption, BoxIcon) override {
        std::printf("box: %s: %s\n", caption.c_str(), text.c_str());
    }
    void process_events() override {}
    void set_progress_min(int) override {}
    void set_progress_max(int) override {}
    void set_progress_position(int) override {}
    int progress_position() const override { return 0; }
    void repaint_progress() override {}
};

long long elapsed_ms(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 since)
        .count();
}

// One query per command, each reply as "reply: " + text.
int exchange(serial& port, const std::vector<std::string>& commands) {
    motor_com motor(port);
    for (const auto& command : commands) {
        std::printf("reply: %s\n", motor.query(command).c_str());
    }
    return 0;
}

// All 256 byte values out, then 256 bytes in (the far end sends them back
// when it has ours), printed in hex.
int bytes(serial& port) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    std::printf("wrote: %d\n", port.write(all.data(), all.size()));
    std::fflush(stdout);
    port.set_timeout(10000);
    unsigned char in[256];
    const int got = port.read(in, sizeof in);
    std::printf("read: %d\nhex:", got);
    for (int i = 0; i < got; ++i) std::printf(" %02x", in[i]);
    std::printf("\n");
    return 0;
}

// Reads with nothing coming, under read time-outs changed between reads.
int quiet(serial& port, const std::vector<std::string>& timeouts) {
    for (const auto& text : timeouts) {
        port.set_timeout(static_cast<std::uint32_t>(std::stoul(text)));
        char c = 0;
        const auto start = std::chrono::steady_clock::now();
        const int got = port.read(&c, 1);
        std::printf("timeout %s: read %d after %lld ms\n", text.c_str(), got, elapsed_ms(start));
    }
    return 0;
}

// A second user of a port that this program holds.
int twice(serial& port, Reporter& out) {
    std::printf("first: %d\n", port.write("", 0));
    serial other(out, port.port_name(), 100);
    std::printf("second: %d\n", other.write("", 0));
    return 0;
}

int list(serial& port) {
    std::vector<std::string> names;
    port.list_ports(names);
    for (const auto& name : names) std::printf("port: %s\n", name.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PORT exchange CMD...|bytes|quiet MS...|twice|list\n",
                     argv[0]);
        return 2;
    }
    PrintingReporter out;
    serial port(out, argv[1], 100);
    const std::string job = argv[2];
    const std::vector<std::string> rest(argv + 3, argv + argc);
    int status = 2;
    if (job == "exchange") status = exchange(port, rest);
    if (job == "bytes") status = bytes(port);
    if (job == "quiet") status = quiet(port, rest);
    if (job == "twice") status = twice(port, out);
    if (job == "list") status = list(port);
    std::fflush(stdout);
    return status;
}
