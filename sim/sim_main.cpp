// kfu-sim: a simulated controller on a pseudo-terminal, for trying the tool
// without hardware. Prints the pty path and answers until SIGINT or SIGTERM.
// It can keep a file of every byte it received and leave its flash behind,
// for tests that drive the real program from outside. The options are
// described in sim/README.md and the manual page kfu-sim(1).

#include <signal.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "common/int_text.h"
#include "common/program_info.h"
#include "sim/sim.h"

namespace {

constexpr const char* about_text =
    "Usage: kfu-sim [OPTION]...\n"
    "A simulated Korvane controller on a pseudo-terminal, for trying the tool\n"
    "without hardware. Prints the terminal's path and answers until SIGINT or\n"
    "SIGTERM.\n\n";

constexpr const char* options_text =
    "  --link PATH        keep a symbolic link to the terminal at PATH (removed at exit)\n"
    "  --id N             answer as motor N, 0 to 999 (repeatable; default 1)\n"
    "  --version CODE     bootloader version code, e.g. 01, 02 or 4J (default 02)\n"
    "  --pace BAUD        send bytes at that line rate instead of at once\n"
    "  --bootloader       start in the bootloader\n"
    "  --debug-every MS   send the line \"DBG tick\" every MS milliseconds\n"
    "  --plain-ids        \"1\" rather than \"001\" ahead of replies\n"
    "  --usb-cr-acks      a CR ahead of each bootloader acknowledgement\n"
    "  --received FILE    append every byte received to FILE as it arrives\n"
    "  --flash-out FILE   write the flash image to FILE when the program ends\n"
    "  --only-baud BAUD   understand nothing while the tool's side runs at another rate\n"
    "  --help             show this text and exit\n"
    "  --version          (without a code) show the program's version and exit\n";

int usage(const char* program) {
    std::fprintf(stderr, "usage: %s [OPTION]...\n%s", program, options_text);
    return 2;
}

// Appends what arrived since the last call; the file grows as the bytes come,
// so a test can wait for them.
void append_received(const SimController& sim, std::FILE* file, std::size_t& written) {
    const std::string received = sim.received();
    if (received.size() <= written) return;
    std::fwrite(received.data() + written, 1, received.size() - written, file);
    std::fflush(file);
    written = received.size();
}

bool write_flash(const SimController& sim, const std::string& path) {
    const std::vector<std::uint8_t> flash = sim.flash();
    // Written aside and renamed, so a reader never sees half an image.
    const std::string part = path + ".part";
    std::FILE* file = std::fopen(part.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(flash.data(), 1, flash.size(), file) == flash.size();
    return std::fclose(file) == 0 && ok && std::rename(part.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    SimConfig config;
    bool ids_given = false;
    int debug_every_ms = 0;
    std::string received_path;
    std::string flash_path;
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
        } else if (arg == "--help") {
            return print_answer("kfu-sim", std::string(about_text) + options_text);
        } else if (arg == "--version") {
            // "--version CODE" sets the bootloader's version, as it always has;
            // on its own (or before another option) it asks for ours.
            if (!has_value || argv[i + 1][0] == '-') {
                return print_answer("kfu-sim", version_line("kfu-sim"));
            }
            config.bootloader_version = argv[++i];
        } else if (arg == "--pace" && has_value) {
            if (!number(n, 0)) return usage(argv[0]);
            config.pace_baud = static_cast<std::uint32_t>(n);
        } else if (arg == "--only-baud" && has_value) {
            if (!number(n, 1)) return usage(argv[0]);
            config.only_baud = static_cast<std::uint32_t>(n);
        } else if (arg == "--debug-every" && has_value) {
            if (!number(debug_every_ms, 0)) return usage(argv[0]);
        } else if (arg == "--received" && has_value) {
            received_path = argv[++i];
        } else if (arg == "--flash-out" && has_value) {
            flash_path = argv[++i];
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
        std::FILE* received = nullptr;
        if (!received_path.empty() && !(received = std::fopen(received_path.c_str(), "wb"))) {
            std::perror(received_path.c_str());
            return 1;
        }
        std::printf("%s\n", sim.path().c_str());
        std::fflush(stdout);
        std::size_t written = 0;
        // Without a received-bytes file there is nothing to do until a signal;
        // with one, the file is brought up to date every 20 ms.
        const timespec tick{0, 20'000'000};
        for (;;) {
            const int signal_number = received ? sigtimedwait(&stop_signals, nullptr, &tick)
                                               : sigwaitinfo(&stop_signals, nullptr);
            if (received) append_received(sim, received, written);
            if (signal_number > 0) break;
        }
        sim.stop();
        if (received) std::fclose(received);
        if (!flash_path.empty() && !write_flash(sim, flash_path)) {
            std::perror(flash_path.c_str());
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
