// kfu-sim: a simulated controller on a pseudo-terminal, for trying the tool
// without hardware. Prints the pty path and answers until SIGINT or SIGTERM.
// It can keep a file of every byte it received and leave its flash behind,
// for tests that drive the real program from outside. The options are
// described in sim/README.md and the manual page kfu-sim(1).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <thread>
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
    "  --connect SOCKET   answer on the unix socket SOCKET (a virtual machine's serial\n"
    "                     port) instead of waiting for a program on the terminal\n"
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

// Connects to a virtual machine's serial port, which its emulator offers as
// a listening unix socket, retrying while the emulator starts.
int connect_socket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return -1;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            return fd;
        }
        ::close(fd);
        const timespec pause{0, 50'000'000};
        nanosleep(&pause, nullptr);
    }
    return -1;
}

// Plays the tool's part on the simulator's terminal: what the socket brings
// goes to the simulator and its answers go back, byte for byte, until the
// socket closes. Blocking reads: the thread has nothing else to do.
void relay(int socket_fd, int line_fd) {
    pollfd fds[2] = {{socket_fd, POLLIN, 0}, {line_fd, POLLIN, 0}};
    const int to[2] = {line_fd, socket_fd};
    char buffer[4096];
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) return;
            for (ssize_t done = 0; done < n;) {
                const ssize_t w = ::write(to[i], buffer + done, static_cast<std::size_t>(n - done));
                if (w < 0 && errno != EINTR) return;
                if (w > 0) done += w;
            }
        }
    }
}

// The terminal end a tool would open, raw, for the relay.
int open_line(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    SimConfig config;
    bool ids_given = false;
    int debug_every_ms = 0;
    std::string received_path;
    std::string flash_path;
    std::string socket_path;
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
        } else if (arg == "--connect" && has_value) {
            socket_path = argv[++i];
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
        // With a socket, the path is printed once the machine is connected.
        if (!socket_path.empty()) {
            const int line_fd = open_line(sim.path());
            const int socket_fd = connect_socket(socket_path);
            if (line_fd < 0 || socket_fd < 0) {
                std::perror(socket_fd < 0 ? socket_path.c_str() : sim.path().c_str());
                return 1;
            }
            // Ends with the socket; the process ends with a signal as ever.
            std::thread(relay, socket_fd, line_fd).detach();
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
