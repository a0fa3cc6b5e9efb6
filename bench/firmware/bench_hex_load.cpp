// Loads a HEX file into the firmware image, as opening it does (read the
// lines, fill, parse), and times that against srec_cat converting the same
// file to a binary image, both run the same number of times in this run.
//
// bench_hex_load [FILE.hex [REPETITIONS]]; without a file it takes the
// largest .hex of the shared test data.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "firmware/documents.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string LargestHexFile() {
    const fs::path dir = fs::path(KFU_SHARED_DIR) / "testdata" / "hex";
    std::string best;
    std::uintmax_t best_size = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        if (entry.path().extension() != ".hex") continue;
        if (entry.file_size() > best_size) {
            best_size = entry.file_size();
            best = entry.path().string();
        }
    }
    return best;
}

// Exit status of the child, or -1 when it could not be started.
int RunQuietly(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The machine is shared with builds; the median of the runs shrugs off the
// ones another process slowed down.
double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    return n % 2 == 1 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string file = argc > 1 ? argv[1] : LargestHexFile();
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 20;
    if (file.empty() || repetitions < 1) {
        std::fprintf(stderr, "usage: bench_hex_load [FILE.hex [REPETITIONS]]\n");
        return 2;
    }
    std::printf("file: %s, %d repetitions\n", file.c_str(), repetitions);

    auto image = std::make_unique<FirmwareImage>();
    std::size_t lines_parsed = 0;
    std::vector<double> ours;
    for (int i = 0; i < repetitions; ++i) {
        const auto start = Clock::now();
        image->upper_address = 0;
        const auto lines = ReadTextLines(file);
        if (!lines) {
            std::fprintf(stderr, "cannot read %s\n", file.c_str());
            return 1;
        }
        lines_parsed = LoadHexDocument(*image, *lines, HexLines::All).lines_parsed;
        ours.push_back(Milliseconds(Clock::now() - start));
    }

    const std::string out =
        (fs::temp_directory_path() / ("bench_hex_load_" + std::to_string(getpid()) + ".bin"))
            .string();
    const std::vector<std::string> command{"srec_cat", file, "-intel", "-o", out, "-binary"};
    std::vector<double> theirs;
    for (int i = 0; i < repetitions; ++i) {
        const auto start = Clock::now();
        const int status = RunQuietly(command);
        theirs.push_back(Milliseconds(Clock::now() - start));
        if (status != 0) {
            std::printf("srec_cat: not available or failed; no baseline\n");
            std::remove(out.c_str());
            return 1;
        }
    }
    std::remove(out.c_str());

    const double our_median = Median(ours);
    const double their_median = Median(theirs);
    std::printf("image load: median %8.3f ms per load (%zu lines)\n", our_median, lines_parsed);
    std::printf("srec_cat:   median %8.3f ms per run\n", their_median);
    std::printf("ratio: image load is %.1fx faster than srec_cat\n", their_median / our_median);
    return 0;
}
