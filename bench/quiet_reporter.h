#pragma once
// The reporter the benchmarks run with: message lines go to stderr, so the
// figures on stdout stay readable; nothing else costs anything.

#include <cstdio>
#include <string>

#include "common/reporter.h"

class QuietReporter : public Reporter {
public:
    void message(const std::string& line) override { std::fprintf(stderr, "%s\n", line.c_str()); }
    void box(const std::string& text, const std::string&, BoxIcon) override {
        std::fprintf(stderr, "box: %s\n", text.c_str());
    }
    void process_events() override {}
    void set_progress_min(int) override {}
    void set_progress_max(int) override {}
    void set_progress_position(int value) override { position_ = value; }
    int progress_position() const override { return position_; }
    void repaint_progress() override {}

private:
    int position_ = 0;
};
