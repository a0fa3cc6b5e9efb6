// kfu-sim: a simulated controller on a pseudo-terminal, for trying the tool
// without hardware. Prints the pty path and answers until SIGINT or SIGTERM.

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "common/int_text.h"
#include "sim/sim.h"

namespace {

int usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--link PATH] [--id N]... [--version CODE] [--pace BAUD]\n"
                 "          [--bootloader] [--debug-every MS] [--plain-ids] [--usb-cr-acks]\n",
                 program);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    SimConfig config;
    bool ids_given = false;
    int debug_every_ms = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        auto number = [&](int& out, int min) {
            const auto n = read_integer(argv[++i]);
            if (!n || *n < min) return false;
            out = *n;
            return true;
        };
        int n = 0;
        if (arg == "--link" && has_value) {
            config.link_path = argv[++i];
        } else if (arg == "--id" && has_value) {
            if (!number(n, 0) || n > 999) return usage(argv[0]);
            if (!ids_given) config.motor_ids.clear();
            ids_given = true;
            config.motor_ids.push_back(n);
        } else if (arg == "--version" && has_value) {
            config.bootloader_version = argv[++i];
        } else if (arg == "--pace" && has_value) {
            if (!number(n, 0)) return usage(argv[0]);
            config.pace_baud = static_cast<std::uint32_t>(n);
        } else if (arg == "--debug-every" && has_value) {
            if (!number(debug_every_ms, 0)) return usage(argv[0]);
        } else if (arg == "--bootloader") {
            config.start_in_bootloader = true;
        } else if (arg == "--plain-ids") {
            config.padded_ids = false;
        } else if (arg == "--usb-cr-acks") {
            config.usb_cr_acks = true;
        } else {
            return usage(argv[0]);
        }
    }

    // Blocked before the simulator's thread starts, so that only sigwait
    // below sees them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    try {
        SimController sim(config);
        if (debug_every_ms > 0) {
            sim.set_debug_every(std::chrono::milliseconds(debug_every_ms), "DBG tick\r");
        }
        std::printf("%s\n", sim.path().c_str());
        std::fflush(stdout);
        int signal_number = 0;
        sigwait(&stop_signals, &signal_number);
        sim.stop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
