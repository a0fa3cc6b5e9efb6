#pragma once
// The simulated controller's state and its parts, shared by the files of the
// simulator: the line (sim_line.cpp), the running firmware's replies
// (sim_firmware.cpp), the bootloader (sim_bootloader.cpp) and the memories
// (sim_memory.h). sim.cpp holds what the tests call.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim.h"
#include "sim/sim_memory.h"

struct SimController::Impl {
    using Clock = std::chrono::steady_clock;
    using microseconds = std::chrono::microseconds;
    using nanoseconds = std::chrono::nanoseconds;

    // A text frame longer than this is noise, not a command; it is dropped so a
    // line without CR cannot grow the buffer without bound.
    static constexpr std::size_t kMaxTextFrame = 4096;
    // Spontaneous output is dropped while this much is still waiting, so a line
    // nobody reads cannot fill memory with debug lines.
    static constexpr std::size_t kMaxQueuedBytes = 65536;
    static constexpr microseconds kSplitPause{5000};

    struct Chunk {
        Clock::time_point not_before;
        microseconds pause{0};  // after the previous chunk has left completely
        std::string bytes;
    };

    SimConfig config;
    std::string path;
    int master = -1;
    int own_slave = -1;
    int wake_pipe[2] = {-1, -1};
    std::thread thread;

    // One lock for everything; recursive because the responder runs under it
    // and may call the accessors.
    mutable std::recursive_mutex mutex;
    std::condition_variable_any vanished_cv;
    bool stopping = false;
    bool stopped = false;
    bool vanish_requested = false;
    bool vanished = false;

    // --- the controller ---
    bool bootloader = false;
    std::string version;
    SimMemory memory;
    int restart_zeros_left = 0;
    int upload_line = 0;

    // --- what was received ---
    std::vector<SimFrame> frames;
    std::vector<Command> commands;
    std::string received;
    std::string sent;

    // --- faults ---
    std::function<std::optional<std::string>(const std::string&)> responder;
    bool silent = false;
    int drop = 0;
    int garble = 0;
    bool split = false;
    bool never_start = false;
    std::map<int, char> refused;
    std::set<int> garbled_acks;
    int silent_after = -1;
    int wrong_echo = -1;
    bool short_ack = false;
    std::uint32_t pace_baud = 0;
    std::chrono::milliseconds debug_period{0};
    std::string debug_line;
    Clock::time_point next_debug;

    // --- input parser ---
    enum class State { Idle, Target, Body, Binary } state = State::Idle;
    std::string target;
    std::string body;
    std::vector<std::uint8_t> binary;
    std::size_t binary_need = 0;
    char binary_kind = 0;
    bool binary_1536 = true;

    // --- output ---
    std::deque<Chunk> out;
    std::size_t queued_bytes = 0;
    std::size_t out_pos = 0;  // bytes of out.front() already written
    bool front_active = false;
    Clock::time_point next_due;   // paced: when the next byte has fully left
    Clock::time_point line_free;  // paced: when the line's last byte (either way) ends
    Clock::time_point last_done;  // when the previous chunk left completely
    Clock::time_point master_pause_until;
    // How late timed wake-ups come on this machine; paced bytes are aimed
    // that much ahead so that they leave on time rather than late on average.
    nanoseconds aim_ahead{0};

    // --- the line (sim_line.cpp) ---
    // Opens the pty and the wake-up pipe; throws std::runtime_error.
    void open_line();
    nanoseconds byte_time() const;
    void wake();
    void close_line();
    void queue(std::string bytes, Clock::time_point not_before,
               microseconds pause = microseconds(0));
    // A reply caused by something received: subject to the reply faults.
    void reply(std::string bytes, Clock::time_point not_before);
    // Writes what is due; returns when it next needs to run (max: never),
    // and sets `want_writable` when the pty's buffer is full.
    Clock::time_point pump(Clock::time_point now, bool& want_writable);
    std::uint32_t tool_baud() const;
    void feed(const std::uint8_t* bytes, std::size_t count, Clock::time_point now);
    void feed_byte(char c, Clock::time_point now);
    // The motor that answers a frame with this target, if it is one of ours.
    std::optional<int> addressed(const std::string& t) const;
    std::string prefix(int id) const;
    void on_text_frame(Clock::time_point now);
    void run();

    // --- the running firmware (sim_firmware.cpp) ---
    void on_firmware_command(int id, const std::string& command, Clock::time_point now);

    // --- the bootloader (sim_bootloader.cpp) ---
    bool ascii_mode() const { return version == "4J"; }
    // Starts reading a binary frame when `c` begins one; false otherwise.
    bool begin_binary_frame(char c);
    void on_bootloader_command(int id, const std::string& command, Clock::time_point now);
    // The acknowledgement of bootloader frame `index`, with the faults applied;
    // empty when no acknowledgement is to be sent.
    std::optional<char> ack_for(int index, char good) const;
    void send_ack(char ack, Clock::time_point now);
    void on_binary_frame();
    void on_ascii_line(const std::string& line, Clock::time_point now);

    // Text helpers of the replies.
    static bool all_digits(const std::string& s);
    static std::string three_digits(int id);
};
