#pragma once
// The one place every piece of output passes through, from any line's
// thread: lines on stdout (behind the port's name when several lines run),
// errors on stderr, and the progress bar on stderr, which is taken away
// while a line is printed and drawn again afterwards.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace cli {

class Output {
public:
    // With `json`, lines are not printed (the command prints one document at
    // the end); errors still go to stderr. `progress` draws the bar.
    Output(std::FILE* out, std::FILE* err, bool json, bool progress);
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    bool json() const { return json_; }

    void line(const std::string& prefix, const std::string& text);
    void error(const std::string& prefix, const std::string& text);
    // Text printed as it stands (a table, the JSON document), even with json.
    void raw(const std::string& text);

    // The bar shows one entry per line that asked for it.
    int add_progress(const std::string& label);
    void set_progress(int slot, double fraction, std::uint64_t line_bytes);
    void end_progress(int slot);

    // What the bar shows, without drawing it (for tests).
    std::string progress_text(int columns);

    // True once something meant for stdout could not be written (a full
    // disk, a reader that went away): the output is then not the whole story.
    bool output_failed();

private:
    using Clock = std::chrono::steady_clock;
    struct Slot {
        std::string label;
        double fraction = 0;
        std::uint64_t bytes = 0;
        Clock::time_point started;
        bool done = false;
    };

    std::string render(int columns) const;
    void erase_bar();
    void draw_bar(bool force);

    std::mutex mutex_;
    std::FILE* out_;
    std::FILE* err_;
    bool json_;
    bool progress_;
    bool bar_shown_ = false;
    bool output_failed_ = false;
    Clock::time_point last_draw_{};
    std::vector<Slot> slots_;
};

// "1.2 kB/s", "0:42": the bar's figures.
std::string format_rate(double bytes_per_second);
std::string format_duration(double seconds);

}  // namespace cli
