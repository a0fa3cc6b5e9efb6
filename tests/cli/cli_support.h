#pragma once
// Running `kfu` in the test's own process (the command library) or as the
// real program, and reading back what it printed.

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "cli/platform.h"

extern char** environ;

struct KfuRun {
    int exit_code = -1;
    std::string out;
    std::string err;

    nlohmann::json json() const { return nlohmann::json::parse(out); }
    bool printed(const std::string& line) const {
        return out.find(line + "\n") != std::string::npos;
    }
};

// Runs the command line in this process, as the program would.
inline KfuRun RunKfu(std::vector<std::string> args) {
    args.insert(args.begin(), "kfu");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);

    KfuRun run;
    char* out_text = nullptr;
    char* err_text = nullptr;
    std::size_t out_size = 0;
    std::size_t err_size = 0;
    std::FILE* out = open_memstream(&out_text, &out_size);
    std::FILE* err = open_memstream(&err_text, &err_size);
    run.exit_code = cli::run_kfu(static_cast<int>(args.size()), argv.data(), out, err, false);
    std::fclose(out);
    std::fclose(err);
    run.out.assign(out_text, out_size);
    run.err.assign(err_text, err_size);
    std::free(out_text);
    std::free(err_text);
    return run;
}

// The real program, started with its output on pipes.
class KfuProcess {
public:
    explicit KfuProcess(const std::vector<std::string>& args) {
        int out_pipe[2];
        int err_pipe[2];
        if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
        posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
        posix_spawn_file_actions_addclose(&actions, err_pipe[0]);
        std::vector<std::string> all = {KFU_PROGRAM};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, KFU_PROGRAM, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out_pipe[1]);
        ::close(err_pipe[1]);
        out_reader_ = std::thread([this, fd = out_pipe[0]] { drain(fd, out_); });
        err_reader_ = std::thread([this, fd = err_pipe[0]] { drain(fd, err_); });
    }
    ~KfuProcess() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            wait(std::chrono::seconds(10));
        }
        if (out_reader_.joinable()) out_reader_.join();
        if (err_reader_.joinable()) err_reader_.join();
    }

    pid_t pid() const { return pid_; }
    void signal(int sig) const { ::kill(pid_, sig); }

    // The exit code (128 + signal when killed), or -1 when it did not end
    // within `limit`.
    int wait(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!reaped_) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                reaped_ = true;
                code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (out_reader_.joinable()) out_reader_.join();
        if (err_reader_.joinable()) err_reader_.join();
        return code_;
    }
    KfuRun finish(std::chrono::milliseconds limit = std::chrono::seconds(120)) {
        KfuRun run;
        run.exit_code = wait(limit);
        if (run.exit_code == -1) {
            ::kill(pid_, SIGKILL);
            wait(std::chrono::seconds(10));
        }
        run.out = out_;
        run.err = err_;
        return run;
    }

private:
    static void drain(int fd, std::string& into) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            into.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(fd);
    }

    pid_t pid_ = -1;
    bool reaped_ = false;
    int code_ = -1;
    std::string out_;
    std::string err_;
    std::thread out_reader_;
    std::thread err_reader_;
};

// Every test starts without a stop asked for.
class CliTest : public ::testing::Test {
protected:
    void SetUp() override { cli::reset_stop_for_tests(); }
    void TearDown() override { cli::reset_stop_for_tests(); }
};
