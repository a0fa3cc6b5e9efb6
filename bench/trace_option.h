#pragma once
// `--trace DIR` on a benchmark's command line: every port the benchmark
// opens records a wire trace into a file of its own in DIR, so that its
// figures can be set beside those of a run without tracing.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "serial/serial.h"
#include "serial/wire_trace.h"

class TraceOption {
public:
    TraceOption(int argc, char** argv) {
        for (int i = 1; i + 1 < argc; ++i) {
            if (std::strcmp(argv[i], "--trace") == 0) dir_ = argv[i + 1];
        }
        if (!dir_.empty()) std::printf("(wire trace on, files in %s)\n", dir_.c_str());
    }

    // Starts a trace for `port` in DIR/NAME.trace when the option was given.
    void attach(serial& port, const std::string& name) const {
        if (dir_.empty()) return;
        std::string error;
        auto trace = WireTrace::start(dir_ + "/" + name + ".trace",
                                      {"benchmark", nullptr, WireTrace::kPartBytes}, error);
        if (!trace) {
            std::fprintf(stderr, "cannot trace into %s: %s\n", dir_.c_str(), error.c_str());
            std::exit(2);
        }
        port.set_trace(std::move(trace));
    }

private:
    std::string dir_;
};
