// The command line's platform needs on Linux: signals through a self-pipe,
// the terminal on stderr, and /proc for who holds a port.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "cli/platform.h"

namespace fs = std::filesystem;

namespace cli {
namespace {

std::atomic<int> stop_signal_number{0};
// Written once when a stop is asked for and never read, so every waiter
// polling it wakes up and keeps waking up.
int stop_pipe[2] = {-1, -1};

// Made once, before the first handler or waiter needs it; gang threads may
// get here at the same time.
void ensure_pipe() {
    static std::once_flag made;
    std::call_once(made, [] {
        if (::pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) stop_pipe[0] = stop_pipe[1] = -1;
    });
}

void note_stop(int sig) {
    int none = 0;
    if (stop_signal_number.compare_exchange_strong(none, sig) && stop_pipe[1] >= 0) {
        const char byte = 1;
        // Nothing can be done about a failed write inside a signal handler.
        [[maybe_unused]] const ssize_t written = ::write(stop_pipe[1], &byte, 1);
    }
}

extern "C" void on_stop_signal(int sig) { note_stop(sig); }

std::string read_first_line(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool is_number(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

void install_stop_handlers() {
    ensure_pipe();
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    // The first signal asks politely; the handler then goes back to the
    // default, so a second Ctrl+C ends a program that does not react.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
    // A reader that went away (kfu ... | head) must not end the program
    // half-way through an operation, with the port left as it was set.
    std::signal(SIGPIPE, SIG_IGN);
    // Nor must a file-size limit: a write past it then fails with EFBIG,
    // which is said like any other failed write.
    std::signal(SIGXFSZ, SIG_IGN);
}

bool stop_signalled() { return stop_signal_number.load() != 0; }

int stop_signal() { return stop_signal_number.load(); }

void reset_stop_for_tests() {
    stop_signal_number.store(0);
    if (stop_pipe[0] < 0) return;
    char drain[64];
    while (::read(stop_pipe[0], drain, sizeof drain) > 0) {
    }
}

void request_stop_for_tests() {
    ensure_pipe();
    note_stop(SIGINT);
}

bool wait_unless_stopped(int ms) {
    ensure_pipe();
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (stop_signalled()) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return true;
        pollfd p{stop_pipe[0], POLLIN, 0};
        const int ready = ::poll(&p, stop_pipe[0] >= 0 ? 1 : 0, static_cast<int>(left) + 1);
        if (ready < 0 && errno != EINTR) return !stop_signalled();
    }
}

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

int stderr_columns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

std::vector<std::string> port_holders(const std::string& device) {
    std::vector<std::string> holders;
    struct stat wanted {};
    if (::stat(device.c_str(), &wanted) != 0 || !S_ISCHR(wanted.st_mode)) return holders;

    const std::string self = std::to_string(::getpid());
    std::error_code ec;
    for (const auto& process : fs::directory_iterator("/proc", ec)) {
        const std::string pid = process.path().filename().string();
        if (!is_number(pid) || pid == self) continue;
        std::error_code fd_ec;
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", fd_ec)) {
            struct stat held {};
            if (::stat(fd.path().c_str(), &held) != 0) continue;
            if (S_ISCHR(held.st_mode) && held.st_rdev == wanted.st_rdev) {
                holders.push_back(pid + " (" + read_first_line(process.path() / "comm") + ")");
                break;
            }
        }
    }

    // Programs of the UUCP tradition announce themselves in a lock file.
    const std::string name = fs::path(device).filename().string();
    for (const char* dir : {"/run/lock", "/var/lock"}) {
        std::string pid = read_first_line(fs::path(dir) / ("LCK.." + name));
        pid.erase(0, pid.find_first_not_of(' '));
        if (!is_number(pid)) continue;
        bool listed = false;
        for (const auto& h : holders) listed = listed || h.rfind(pid + " ", 0) == 0;
        if (!listed) holders.push_back(pid + " (lock file " + dir + "/LCK.." + name + ")");
        break;
    }
    return holders;
}

std::string port_names_help() {
    return "A port name without \"/\" means /dev/NAME. See kfu(1) for more.";
}

std::string permission_advice(const std::string& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return {};
    if (::access(device.c_str(), R_OK | W_OK) == 0) return {};

    const group* owner_group = ::getgrgid(st.st_gid);
    const std::string group_name = owner_group ? owner_group->gr_name : std::to_string(st.st_gid);
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
        return device +
               " can be read and written only by its owner; ask the administrator to "
               "give the group " +
               group_name + " access to it.";
    }

    const passwd* user = ::getpwuid(::getuid());
    const std::string user_name = user ? user->pw_name : std::string("$USER");
    bool in_database = false;
    if (owner_group) {
        for (char** member = owner_group->gr_mem; member && *member; ++member) {
            in_database = in_database || user_name == *member;
        }
    }
    if (in_database) {
        return "You were added to the group " + group_name +
               ", but this login session does not have it yet: log out and in again.";
    }
    return device + " belongs to the group " + group_name + ": add yourself to it (sudo adduser " +
           user_name + " " + group_name + "), then log out and in again.";
}

}  // namespace cli
