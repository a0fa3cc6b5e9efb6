// kfu.exe under Wine writes a full image in 1536-byte mode through COM5 to
// the simulated controller pacing its line at 115,200 baud; the write's own
// time (kfu's "write_seconds") is set against the least the line allows,
// with the read time-out the Linux write benchmark uses. Needs the Wine
// prefix of scripts/wine-prefix.sh: run it through scripts/bench-windows.sh.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bootloader/write_bound.h"
#include "cli/full_image.h"
#include "cli/spawn.h"
#include "sim/sim.h"
#include "wine_run.h"

namespace {

constexpr std::uint32_t kBaud = 115200;
constexpr std::uint32_t kReadTimeoutMs = 150;  // as bench_write
constexpr double kTarget = 1.05;

struct Write {
    bool ok = false;
    double write_seconds = 0;
    double wall = 0;  // the program's whole run, Wine's start included
};

Write Flash(const std::string& hex) {
    SimConfig config;
    config.start_in_bootloader = true;
    config.pace_baud = kBaud;
    SimController sim(config);
    Write w;
    if (!wine::map_port(5, sim.path())) {
        std::printf("  cannot lead COM5 to %s\n", sim.path().c_str());
        return w;
    }
    const auto run =
        wine::run({wine::program("kfu.exe"), "flash", "--json", "--quiet", "-p", "COM5",
                   "--timeout", std::to_string(kReadTimeoutMs), wine::windows_path(hex)},
                  std::chrono::minutes(5));
    w.wall = run.seconds;
    if (run.status != 0 || sim.frames().size() != static_cast<std::size_t>(kFullWriteBlocks)) {
        std::printf("  kfu.exe flash exit %d after %zu frames\n%s%s\n", run.status,
                    sim.frames().size(), run.out.c_str(), run.err.c_str());
        return w;
    }
    try {
        w.write_seconds = nlohmann::json::parse(run.out)["figures"]["write_seconds"];
        w.ok = true;
    } catch (const std::exception& e) {
        std::printf("  no JSON from kfu.exe: %s\n%s\n", e.what(), run.out.c_str());
    }
    return w;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string missing = wine::missing_setup();
    if (!missing.empty()) {
        std::printf("run through scripts/bench-windows.sh (missing %s)\n", missing.c_str());
        return 2;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string hex = (std::filesystem::temp_directory_path() /
                             ("kfu-wine-bench-" + std::to_string(::getpid()) + ".hex"))
                                .string();
    WriteFullImage(hex);
    const double bound = FullWriteBoundSeconds(kBaud, kReadTimeoutMs).whole;

    std::printf(
        "kfu.exe under Wine: full 1536-byte-mode write (%d data blocks), simulator "
        "paced at %u baud, read time-out %u ms; line-time bound %.3f s\n",
        kFullWriteBlocks, kBaud, kReadTimeoutMs, bound);
    std::vector<double> ratios;
    for (int r = 0; r < rounds; ++r) {
        const Write w = Flash(hex);
        if (!w.ok) break;
        ratios.push_back(w.write_seconds / bound);
        std::printf("round %d: write %.3f s, ratio %.4f (whole run under Wine %.3f s)\n", r + 1,
                    w.write_seconds, ratios.back(), w.wall);
    }
    std::filesystem::remove(hex);
    if (static_cast<int>(ratios.size()) != rounds) return 1;
    std::sort(ratios.begin(), ratios.end());
    std::printf("write / bound: min %.4f, median %.4f, max %.4f (target <= %.2f)\n", ratios.front(),
                Median(ratios), ratios.back(), kTarget);
    return Median(ratios) <= kTarget ? 0 : 1;
}
