#include "cli/output.h"

#include <algorithm>

#include "cli/platform.h"

namespace cli {
namespace {

// Often enough to look alive, rarely enough to cost nothing.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr double kLeastFractionForEstimate = 0.01;

std::string percent(double fraction) {
    return std::to_string(static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100)) + "%";
}

}  // namespace

std::string format_rate(double bytes_per_second) {
    char text[32];
    if (bytes_per_second >= 1000.0) {
        std::snprintf(text, sizeof text, "%.1f kB/s", bytes_per_second / 1000.0);
    } else {
        std::snprintf(text, sizeof text, "%.0f B/s", bytes_per_second);
    }
    return text;
}

std::string format_duration(double seconds) {
    const long total = static_cast<long>(std::max(0.0, seconds) + 0.5);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    }
    return text;
}

Output::Output(std::FILE* out, std::FILE* err, bool json, bool progress)
    : out_(out), err_(err), json_(json), progress_(progress) {}

void Output::line(const std::string& prefix, const std::string& text) {
    if (json_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    erase_bar();
    if (std::fprintf(out_, "%s%s\n", prefix.c_str(), text.c_str()) < 0 || std::fflush(out_) != 0) {
        output_failed_ = true;
    }
    draw_bar(true);
}

void Output::error(const std::string& prefix, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    erase_bar();
    std::fprintf(err_, "kfu: %s%s\n", prefix.c_str(), text.c_str());
    std::fflush(err_);
    draw_bar(true);
}

void Output::raw(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    erase_bar();
    if (std::fputs(text.c_str(), out_) < 0 || std::fflush(out_) != 0) output_failed_ = true;
    draw_bar(true);
}

bool Output::output_failed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return output_failed_;
}

int Output::add_progress(const std::string& label) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot slot;
    slot.label = label;
    slot.started = Clock::now();
    slots_.push_back(slot);
    return static_cast<int>(slots_.size()) - 1;
}

void Output::set_progress(int slot, double fraction, std::uint64_t line_bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (slot < 0 || slot >= static_cast<int>(slots_.size())) return;
    slots_[slot].fraction = fraction;
    slots_[slot].bytes = line_bytes;
    draw_bar(false);
}

void Output::end_progress(int slot) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (slot < 0 || slot >= static_cast<int>(slots_.size())) return;
    slots_[slot].done = true;
    erase_bar();
    draw_bar(true);
}

std::string Output::progress_text(int columns) {
    std::lock_guard<std::mutex> lock(mutex_);
    return render(columns);
}

std::string Output::render(int columns) const {
    std::vector<const Slot*> active;
    for (const Slot& s : slots_) {
        if (!s.done) active.push_back(&s);
    }
    if (active.empty()) return {};

    const auto now = Clock::now();
    double bytes = 0;
    double longest = 0;
    double left = 0;
    bool left_known = true;
    for (const Slot* s : active) {
        const double elapsed = std::chrono::duration<double>(now - s->started).count();
        bytes += static_cast<double>(s->bytes);
        longest = std::max(longest, elapsed);
        if (s->fraction < kLeastFractionForEstimate) {
            left_known = false;
        } else {
            left = std::max(left, elapsed * (1.0 - s->fraction) / s->fraction);
        }
    }
    std::string figures = "  " + format_rate(longest > 0 ? bytes / longest : 0) + "  " +
                          (left_known ? format_duration(left) : std::string("-:--")) + " left";

    std::string text;
    if (active.size() == 1) {
        const std::string pct = percent(active[0]->fraction);
        const int width =
            std::clamp(columns - 1 - static_cast<int>(figures.size() + pct.size()) - 3, 10, 40);
        const int filled = static_cast<int>(std::clamp(active[0]->fraction, 0.0, 1.0) * width);
        text = "[" + std::string(filled, '#') + std::string(width - filled, '.') + "] " + pct;
    } else {
        for (const Slot* s : active) {
            if (!text.empty()) text += " | ";
            text += s->label + " " + percent(s->fraction);
        }
    }
    text += figures;
    if (static_cast<int>(text.size()) > columns - 1) text.resize(std::max(0, columns - 1));
    return text;
}

void Output::erase_bar() {
    if (!bar_shown_) return;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    bar_shown_ = false;
}

void Output::draw_bar(bool force) {
    if (!progress_) return;
    const auto now = Clock::now();
    if (!force && bar_shown_ && now - last_draw_ < kRedrawInterval) return;
    const std::string text = render(stderr_columns());
    if (text.empty()) {
        erase_bar();
        return;
    }
    std::fprintf(err_, "\r%s\033[K", text.c_str());
    std::fflush(err_);
    bar_shown_ = true;
    last_draw_ = now;
}

}  // namespace cli
