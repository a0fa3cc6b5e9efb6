// `kfu info`'s estimated write time against the write measured by
// `kfu flash` on the simulator pacing its line, for the reference HEX files
// and each bootloader mode. The estimate is worked out from the wire
// protocol and a round per-exchange turnaround of the order measured on a
// pseudo-terminal; nothing in it is fitted file by file.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sim/sim.h"
#include "spawn.h"

namespace fs = std::filesystem;

namespace {

constexpr double kTarget = 0.05;
// A paced 1536-byte frame takes 134 ms on the line, and a pseudo-terminal
// takes it at once, so the acknowledgement read must outlast it, with room
// for a busy machine: 200 ms, from the port dialog's list.
const char* const kTimeout = "200";

struct Mode {
    const char* version;
    int index;  // in info's "modes"
    const char* name;
};

}  // namespace

// Arguments: [baud] [mode...] where a mode is 02, 01 or 4J (default: all).
// KFU_BENCH_ROUNDS sets how many writes each figure is the median of (3).
int main(int argc, char** argv) {
    const char* rounds_text = std::getenv("KFU_BENCH_ROUNDS");
    const int rounds = std::max(1, rounds_text ? std::atoi(rounds_text) : 3);
    const std::uint32_t baud = argc > 1 ? static_cast<std::uint32_t>(std::atoi(argv[1])) : 115200;
    std::vector<Mode> modes = {{"02", 0, "1536"}, {"01", 1, "96"}, {"4J", 2, "ascii"}};
    if (argc > 2) {
        std::vector<Mode> chosen;
        for (int i = 2; i < argc; ++i) {
            for (const Mode& m : modes) {
                if (m.version == std::string(argv[i])) chosen.push_back(m);
            }
        }
        modes = chosen;
    }

    const fs::path dir = fs::path(KFU_SHARED_DIR) / "testdata" / "hex";
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() == ".hex") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::printf("no HEX files in %s\n", dir.c_str());
        return 1;
    }

    std::printf(
        "Estimate of `kfu info` against `kfu flash` measured, simulator paced at %u baud, "
        "read time-out %s ms; median of %d writes\n",
        baud, kTimeout, rounds);
    std::printf("%-40s %-6s %10s %10s %8s  %s\n", "file", "mode", "estimate", "measured", "ratio",
                "(fastest .. slowest write)");
    double worst = 0;
    bool ok = true;
    const std::string rate = std::to_string(baud);
    for (const fs::path& file : files) {
        const Spawned info = SpawnAndWait(
            {KFU_PROGRAM, "info", "--json", "-b", rate, "-t", kTimeout, file.string()});
        const auto estimates = nlohmann::json::parse(info.out)["figures"]["modes"];
        for (const Mode& m : modes) {
            // The median of a few writes: on a shared machine one write now
            // and then stalls for a large part of a second, which says
            // nothing about the estimate.
            std::vector<double> writes;
            bool failed = false;
            for (int round = 0; round < rounds; ++round) {
                SimConfig config;
                config.start_in_bootloader = true;
                config.bootloader_version = m.version;
                config.pace_baud = baud;
                SimController sim(config);
                const Spawned run =
                    SpawnAndWait({KFU_PROGRAM, "flash", "--json", "--quiet", "-b", rate, "-t",
                                  kTimeout, "-p", sim.path(), file.string()});
                double seconds = 0;
                try {
                    seconds = nlohmann::json::parse(run.out)["figures"]["write_seconds"];
                } catch (const std::exception&) {
                }
                if (run.exit_code != 0 || seconds <= 0) failed = true;
                writes.push_back(seconds);
            }
            std::sort(writes.begin(), writes.end());
            const double measured = writes[writes.size() / 2];
            const double estimate = estimates[m.index]["estimated_seconds"];
            const double ratio = measured > 0 ? estimate / measured : 0;
            std::printf("%-40s %-6s %9.3fs %9.3fs %8.4f  (%.3f .. %.3f)%s\n", file.stem().c_str(),
                        m.name, estimate, measured, ratio, writes.front(), writes.back(),
                        failed ? "  (write failed)" : "");
            std::fflush(stdout);
            if (failed) {
                ok = false;
                continue;
            }
            worst = std::max(worst, std::fabs(ratio - 1.0));
        }
    }
    std::printf("largest deviation: %.2f %% (target <= %.0f %%)\n", worst * 100, kTarget * 100);
    return ok && worst <= kTarget ? 0 : 1;
}
