#pragma once
// A Reporter that remembers everything the logic told it.

#include <functional>
#include <string>
#include <vector>

#include "common/reporter.h"

struct RecordedBox {
    std::string text;
    std::string caption;
    BoxIcon icon;
};

class Recorder : public Reporter {
public:
    std::vector<std::string> lines;
    std::vector<RecordedBox> boxes;
    int min = 0;
    int max = 100;
    int position = 0;
    std::vector<int> positions;  // every position set, in order
    int events = 0;              // calls of process_events
    int repaints = 0;
    // Runs inside process_events, to act "while the operation lets events run".
    std::function<void()> on_events;
    std::vector<std::string> questions;  // every Yes/No question asked
    bool answer_yes = false;             // the answer to all of them
    std::function<bool()> stop_when;     // stop_requested, asked afresh each time

    void message(const std::string& line) override { lines.push_back(line); }
    void box(const std::string& text, const std::string& caption, BoxIcon icon) override {
        boxes.push_back({text, caption, icon});
    }
    void process_events() override {
        ++events;
        if (on_events) on_events();
    }
    void set_progress_min(int value) override {
        min = value;
        if (max < min) max = min;
        if (position < min) position = min;
    }
    void set_progress_max(int value) override {
        max = value;
        if (min > max) min = max;
        if (position > max) position = max;
    }
    void set_progress_position(int value) override {
        if (value < min || value > max) return;  // as the widget ignores it
        position = value;
        positions.push_back(value);
    }
    int progress_position() const override { return position; }
    void repaint_progress() override { ++repaints; }
    bool ask_yes_no(const std::string& text, const std::string&) override {
        questions.push_back(text);
        return answer_yes;
    }
    bool stop_requested() const override { return stop_when && stop_when(); }

    std::string last() const { return lines.empty() ? std::string() : lines.back(); }
};
