#pragma once
// Works a Windows program's window under Wine the way a user does: on a
// private X server (Xvfb), with X input events (xdotool) that go wherever the
// window system sends them, and reads it back through win_probe.exe running
// in the same prefix (see win_probe.cpp for what it can read).
//
// Besides what wine_run.h needs, KFU_WINESERVER names the wineserver of the
// prefix that scripts/test-windows.sh made.

#include <fcntl.h>
#include <sys/prctl.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <thread>

#include "wine_run.h"

namespace wine_window {

using namespace std::chrono_literals;
constexpr auto kLimit = 60s;  // for any one condition; only a broken run waits this long

// One control of a window, as win_probe.exe dump prints it; -1 where a state
// does not belong to the control's class.
struct Control {
    int id = 0, parent = 0;  // parent: the id of the control it sits in, 0 for the window
    std::string cls, text;
    bool enabled = false, visible = false, focused = false;
    int check = -1, pos = -1, sel = -1, count = -1;  // sel: tab, list or combo entry
    int left = 0, top = 0, right = 0, bottom = 0;    // on the screen
};

// Polls `condition` until it holds; false when `limit` passed first.
template <class F>
bool eventually(F condition, std::chrono::milliseconds limit = kLimit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

// The fields of one line of the probe, its escapes undone.
inline std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\t') {
            out.emplace_back();
        } else if (line[i] == '\\' && i + 1 < line.size()) {
            const auto k = std::string_view("tnr").find(line[++i]);
            out.back() += k == std::string_view::npos ? line[i] : "\t\n\r"[k];
        } else {
            out.back() += line[i];
        }
    }
    return out;
}

// Runs win_probe.exe with `args`; `cls` limits it to windows of that class.
inline wine::Result probe(std::vector<std::string> args, const std::string& cls = "") {
    if (!cls.empty()) args.insert(args.begin(), {"-c", cls});
    args.insert(args.begin(), wine::program("tests/wine_window/win_probe.exe"));
    return wine::run(args, kLimit + 30s);
}

// The controls of the visible window titled `title` ("*": any), all levels
// down; none when there is no such window.
inline std::vector<Control> dump(const std::string& title, const std::string& cls = "") {
    std::vector<Control> out;
    for (const auto& line : wine::lines(probe({"dump", title}, cls).out)) {
        const auto f = fields(line);
        if (f.size() != 15) continue;
        auto n = [&](int i) { return std::atoi(f[i].c_str()); };
        out.push_back({n(0), n(1), f[2], f[3], n(4) == 1, n(5) == 1, n(6) == 1, n(7), n(8), n(9),
                       n(10), n(11), n(12), n(13), n(14)});
    }
    return out;
}

inline std::optional<Control> find(const std::vector<Control>& controls, int id) {
    const auto c =
        std::find_if(controls.begin(), controls.end(), [&](auto& c) { return c.id == id; });
    return c == controls.end() ? std::nullopt : std::optional(*c);
}

inline std::optional<Control> control(const std::string& title, int id) {
    return find(dump(title), id);
}

// The top-level windows (of class `cls`, if given), each as its fields:
// hwnd, pid, owner, visible, class, title.
inline std::vector<std::vector<std::string>> windows(const std::string& cls = "") {
    std::vector<std::vector<std::string>> out;
    for (const auto& line : wine::lines(probe({"windows"}, cls).out)) out.push_back(fields(line));
    return out;
}

// Waits, within the probe, until a window titled `title` is visible (or, with
// `gone`, until none is).
inline bool wait_window(const std::string& title, const std::string& cls = "", bool gone = false,
                        std::chrono::milliseconds limit = kLimit) {
    const auto ms = std::to_string(limit.count());
    return probe({gone ? "wait-gone" : "wait-window", title, ms}, cls).status == 0;
}

// The text of the message box (a dialog of class #32770) captioned `caption`.
inline std::optional<std::string> message_box(const std::string& caption) {
    const auto text = find(dump(caption, "#32770"), 0xFFFF);
    return text ? std::optional(text->text) : std::nullopt;
}

// Starts `argv` with its output in `log`, in a process group of its own; it
// gets SIGTERM when the test program ends, however that ends.
inline pid_t start(const std::vector<std::string>& argv, const std::string& log = "/dev/null") {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0) return pid;
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const int in = open("/dev/null", O_RDONLY);
    if (out < 0 || in < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    execv(args[0], args.data());
    _exit(127);
}

// Waits up to `limit` for `pid` to end: its exit status (128 + the signal
// that ended it), or -1 when it still runs.
inline int wait_exit(pid_t pid, std::chrono::milliseconds limit = kLimit) {
    int status = 0;
    if (!eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; }, limit)) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A Windows program under Wine, running beside the test; killed with its
// group if it is still running when this ends.
class App {
public:
    explicit App(std::vector<std::string> args, const std::string& log = "/dev/null") {
        args.insert(args.begin(), wine::env("KFU_WINE"));
        pid_ = start(args, log);
    }
    App(const App&) = delete;
    App& operator=(const App&) = delete;
    ~App() {
        if (pid_ <= 0) return;
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    // The program's exit status once it has ended, -1 when it has not within `limit`.
    int wait(std::chrono::milliseconds limit = kLimit) {
        if (pid_ > 0 && (status_ = wait_exit(pid_, limit)) != -1) pid_ = -1;
        return status_;
    }

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// An X server and the prefix's Wine on it, for the whole test program, and
// the X input that a user gives.
class Desktop {
public:
    Desktop() : error_(setup()) {}
    ~Desktop() {
        const std::string server = wine::env("KFU_WINESERVER");
        wine::run_linux({server, "-k"});
        wine::run_linux({server, "-w"});
        if (xvfb_ > 0) {
            kill(xvfb_, SIGTERM);
            waitpid(xvfb_, nullptr, 0);
        }
    }
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // Empty when the desktop is ready, else why not.
    const std::string& error() const { return error_; }

    bool xdotool(std::vector<std::string> args) {
        args.insert(args.begin(), "/usr/bin/xdotool");
        return wine::run_linux(args, kLimit).status == 0;
    }
    bool click(const Control& c) {
        return xdotool({"mousemove", std::to_string((c.left + c.right) / 2),
                        std::to_string((c.top + c.bottom) / 2), "click", "1"});
    }
    bool type(const std::string& text) { return xdotool({"type", "--delay", "20", text}); }
    // Keys as xdotool names them: "Return", "Tab", "ctrl+o", "alt+f".
    bool key(const std::string& keys) { return xdotool({"key", keys}); }
    // Held keys, as "ctrl" or "Shift_L".
    bool key_down(const std::string& keys) { return xdotool({"keydown", keys}); }
    bool key_up(const std::string& keys) { return xdotool({"keyup", keys}); }

private:
    // Empty when all went well, else what did not.
    std::string setup() {
        int fds[2];
        if (pipe(fds) != 0) return "no pipe for Xvfb";
        // -noreset: the server would otherwise start afresh whenever its last
        // client (every Wine program, in turn) went away.
        xvfb_ = start({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                       "1280x1024x24", "-nolisten", "tcp", "-noreset"});
        close(fds[1]);
        char number[16] = {};
        pollfd p{fds[0], POLLIN, 0};
        const bool up = poll(&p, 1, 30000) == 1 && read(fds[0], number, 15) > 0;
        close(fds[0]);
        if (!up || number[0] == '\n') return "Xvfb did not start";
        setenv("DISPLAY", (":" + std::to_string(std::atoi(number))).c_str(), 1);

        // A desktop process of the prefix that started without a display
        // would keep every later window off the X server: the server starts anew.
        const std::string server = wine::env("KFU_WINESERVER");
        wine::run_linux({server, "-k"});
        wine::run_linux({server, "-w"});
        // One server for the run spares each probe the start of Wine's services.
        wait_exit(start({server, "-p"}));
        // Unmanaged windows: with no window manager to answer, Wine would wait
        // about two seconds for one whenever a window closes.
        const auto r =
            wine::run({"C:\\windows\\system32\\reg.exe", "add", "HKCU\\Software\\Wine\\X11 Driver",
                       "/v", "Managed", "/d", "N", "/f"});
        return r.status == 0 ? "" : "cannot set Managed=N: " + r.out + r.err;
    }

    pid_t xvfb_ = -1;
    std::string error_;  // after xvfb_, which setup() sets
};

}  // namespace wine_window
