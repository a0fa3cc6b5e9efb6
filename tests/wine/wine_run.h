#pragma once
// Runs cross-built Windows programs under Wine from a Linux test, with COM
// ports of the Wine prefix led to pseudo-terminals of this process.
//
// scripts/test-windows.sh prepares the prefix and passes it in:
//   KFU_WINE        the Wine loader
//   KFU_WIN_BUILD   the Windows build folder (build/win64)
//   KFU_WINE_PORTS  a folder whose links "comN" the prefix registers as COMN
//   WINEPREFIX      the prefix (Wine reads it from the environment)

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

extern char** environ;

namespace wine {

inline std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Empty when the environment is complete, else what is missing.
inline std::string missing_setup() {
    std::string missing;
    for (const char* name : {"KFU_WINE", "KFU_WIN_BUILD", "KFU_WINE_PORTS", "WINEPREFIX"}) {
        if (env(name).empty()) missing += std::string(missing.empty() ? "" : ", ") + name;
    }
    return missing;
}

// A program of the Windows build, e.g. "tests/wine/serial_probe.exe".
inline std::string program(const std::string& relative) {
    return (std::filesystem::path(env("KFU_WIN_BUILD")) / relative).string();
}

// Leads COM`number` of the prefix to `target` (a pty path). The link is
// replaced in one step, so a Windows program never finds it missing.
inline bool map_port(int number, const std::string& target) {
    namespace fs = std::filesystem;
    const fs::path link = fs::path(env("KFU_WINE_PORTS")) / ("com" + std::to_string(number));
    const fs::path fresh = link.string() + ".new";
    std::error_code ec;
    fs::remove(fresh, ec);
    fs::create_symlink(target, fresh, ec);
    if (ec) return false;
    fs::rename(fresh, link, ec);
    return !ec;
}

struct Result {
    int status = -1;  // exit code, or -1 when the program did not end normally
    std::string out;
    std::string err;
    double seconds = 0;
    bool timed_out = false;
};

// A Linux path as a Windows program names it: through drive Z:, which a
// Wine prefix maps to the root folder.
inline std::string windows_path(const std::string& path) {
    std::string p = "Z:" + path;
    for (char& c : p) {
        if (c == '/') c = '\\';
    }
    return p;
}

// Runs `full` (the program first) and collects its output. While it runs,
// `tick` is called every few milliseconds with the program's process id; the
// program is killed when it has not ended after `limit`.
inline Result run_linux(std::vector<std::string> full,
                        std::chrono::milliseconds limit = std::chrono::seconds(120),
                        const std::function<void(pid_t)>& tick = {}) {
    using Clock = std::chrono::steady_clock;
    Result result;
    std::vector<char*> argv;
    for (auto& a : full) argv.push_back(a.data());
    argv.push_back(nullptr);

    int out_pipe[2];
    int err_pipe[2];
    if (pipe(out_pipe) != 0) return result;
    if (pipe(err_pipe) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
    posix_spawn_file_actions_addclose(&actions, err_pipe[0]);
    // Its own process group, so that a kill reaches whatever Wine started.
    posix_spawnattr_t attrs;
    posix_spawnattr_init(&attrs);
    posix_spawnattr_setflags(&attrs, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attrs, 0);
    pid_t pid = -1;
    const auto start = Clock::now();
    const int spawned = posix_spawn(&pid, argv[0], &actions, &attrs, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attrs);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (spawned != 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        result.err = "cannot start " + full[0];
        return result;
    }

    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    auto take = [&](int wait_ms) {
        if (poll(fds, 2, wait_ms) <= 0) return false;
        bool got = false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
                got = true;
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
        return got;
    };
    // The program's end is its exit, not the end of its output: processes
    // Wine starts beside it may inherit the pipes and outlive it.
    int status = 0;
    for (;;) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            while (take(0)) {
            }
            break;
        }
        if (Clock::now() - start > limit) {
            result.timed_out = true;
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        if (tick) tick(pid);
        take(tick ? 5 : 20);
    }
    for (auto& f : fds) {
        if (f.fd >= 0) close(f.fd);
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!result.timed_out && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
}

// Runs `args` (a Windows program first) under Wine, as run_linux does.
inline Result run(const std::vector<std::string>& args,
                  std::chrono::milliseconds limit = std::chrono::seconds(120),
                  const std::function<void(pid_t)>& tick = {}) {
    std::vector<std::string> full = {env("KFU_WINE")};
    full.insert(full.end(), args.begin(), args.end());
    return run_linux(std::move(full), limit, tick);
}

// The lines of `text`, without their CR or LF.
inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            out.push_back(line);
            line.clear();
        } else if (c != '\r') {
            line += c;
        }
    }
    if (!line.empty()) out.push_back(line);
    return out;
}

}  // namespace wine
