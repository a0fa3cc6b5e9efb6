// The command line's platform needs on Windows: a console control handler
// for Ctrl+C, the console on stderr, and what can be said about a port that
// will not open.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "cli/platform.h"

namespace cli {
namespace {

std::atomic<int> stop_signal_number{0};
// Manual-reset, set once when a stop is asked for: every waiter wakes up and
// keeps waking up, as the Linux self-pipe does.
HANDLE stop_event = nullptr;

HANDLE ensure_event() {
    if (!stop_event) stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return stop_event;
}

void note_stop(int sig) {
    int none = 0;
    if (stop_signal_number.compare_exchange_strong(none, sig) && stop_event) SetEvent(stop_event);
}

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            // Either key counts as Ctrl+C. The first asks politely; the
            // second goes on to the default handler, which ends a program
            // that does not react.
            if (stop_signalled()) return FALSE;
            note_stop(SIGINT);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // The process ends as soon as this handler returns; the wait
            // gives the operation time to stop at its next step and hand the
            // port back its settings (the system allows a few seconds).
            note_stop(SIGTERM);
            Sleep(4000);
            return TRUE;
        default:
            return FALSE;
    }
}

HANDLE stderr_console() {
    const HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (h == nullptr || h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode)) return nullptr;
    return h;
}

}  // namespace

void install_stop_handlers() {
    ensure_event();
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool stop_signalled() { return stop_signal_number.load() != 0; }

int stop_signal() { return stop_signal_number.load(); }

void reset_stop_for_tests() {
    stop_signal_number.store(0);
    if (stop_event) ResetEvent(stop_event);
}

void request_stop_for_tests() {
    ensure_event();
    note_stop(SIGINT);
}

bool wait_unless_stopped(int ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (stop_signalled()) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return true;
        const HANDLE event = ensure_event();
        // Without the event (it could not be made) the wait still ends on time.
        if (event) {
            WaitForSingleObject(event, static_cast<DWORD>(left) + 1);
        } else {
            Sleep(static_cast<DWORD>(left) + 1);
        }
    }
}

bool stderr_is_terminal() {
    // The progress bar redraws its line with escape sequences, which a
    // console interprets only in its virtual-terminal mode; a console that
    // cannot be switched to it gets the plain lines, as a pipe does.
    const HANDLE h = stderr_console();
    if (!h) return false;
    DWORD mode = 0;
    GetConsoleMode(h, &mode);
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
    return SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int stderr_columns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    const HANDLE h = stderr_console();
    if (h && GetConsoleScreenBufferInfo(h, &info)) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0) return columns;
    }
    return 80;
}

// Windows names no holder of a device without walking every process's
// handles with undocumented calls; the caller says that it cannot be seen.
std::vector<std::string> port_holders(const std::string&) { return {}; }

std::string port_names_help() {
    return "A port name such as COM5 means \\\\.\\COM5; a name holding \"\\\" is used as "
           "it stands. See README.md for more.";
}

// COM ports are not guarded by per-user rights on Windows: a refused open
// means that another program holds the port.
std::string permission_advice(const std::string&) { return {}; }

}  // namespace cli
