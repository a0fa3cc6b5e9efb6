// `kfu info`'s estimated write time against the write measured by
// `kfu flash` on the simulator pacing its line, for the reference HEX files
// and each bootloader mode. The estimate is worked out from the wire
// protocol and a round per-exchange turnaround; nothing in it is fitted to
// these measurements.

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
int main(int argc, char** argv) {
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
        "read time-out %s ms\n",
        baud, kTimeout);
    std::printf("%-40s %-6s %10s %10s %8s\n", "file", "mode", "estimate", "measured", "ratio");
    double worst = 0;
    bool ok = true;
    const std::string rate = std::to_string(baud);
    for (const fs::path& file : files) {
        const Spawned info = SpawnAndWait(
            {KFU_PROGRAM, "info", "--json", "-b", rate, "-t", kTimeout, file.string()});
        const auto estimates = nlohmann::json::parse(info.out)["figures"]["modes"];
        for (const Mode& m : modes) {
            SimConfig config;
            config.start_in_bootloader = true;
            config.bootloader_version = m.version;
            config.pace_baud = baud;
            SimController sim(config);
            const Spawned run = SpawnAndWait({KFU_PROGRAM, "flash", "--json", "--quiet", "-b", rate,
                                              "-t", kTimeout, "-p", sim.path(), file.string()});
            double measured = 0;
            try {
                measured = nlohmann::json::parse(run.out)["figures"]["write_seconds"];
            } catch (const std::exception&) {
            }
            const double estimate = estimates[m.index]["estimated_seconds"];
            const double ratio = measured > 0 ? estimate / measured : 0;
            std::printf("%-40s %-6s %9.3fs %9.3fs %8.4f%s\n", file.stem().c_str(), m.name, estimate,
                        measured, ratio, run.exit_code == 0 ? "" : "  (write failed)");
            std::fflush(stdout);
            if (run.exit_code != 0 || measured <= 0) {
                ok = false;
                continue;
            }
            worst = std::max(worst, std::fabs(ratio - 1.0));
        }
    }
    std::printf("largest deviation: %.2f %% (target <= %.0f %%)\n", worst * 100, kTarget * 100);
    return ok && worst <= kTarget ? 0 : 1;
}
