// Times `kfu send` of one command against the unpaced simulator, the whole
// process from its start to its exit, as a shell script sees it. Baselines
// measured in the same run, interleaved with it: starting a program that
// does nothing (/bin/true), and, where Debian's Python has its serial package,
// a Python script that only imports it and opens the port.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/sim.h"
#include "spawn.h"

namespace {

constexpr double kTargetMs = 10.0;

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    SimController sim;
    const std::vector<std::string> send = {KFU_PROGRAM, "send", "-p", sim.path(), "VER"};
    const std::vector<std::string> nothing = {"/bin/true"};
    const std::vector<std::string> python = {
        "/usr/bin/python3", "-I", "-c", "import serial, sys; serial.Serial(sys.argv[1], 115200).close()",
        sim.path()};

    const Spawned check = SpawnAndWait(send);
    if (check.exit_code != 0 || check.out != "VER\n") {
        std::printf("kfu send failed (exit %d): %s\n", check.exit_code, check.out.c_str());
        return 1;
    }
    const bool have_python = SpawnAndWait(python, false).exit_code == 0;

    std::vector<double> kfu_ms, true_ms, python_ms;
    for (int i = 0; i < runs; ++i) {
        true_ms.push_back(SpawnAndWait(nothing, false).seconds * 1000);
        const Spawned s = SpawnAndWait(send, false);
        if (s.exit_code != 0) {
            std::printf("run %d: kfu send exit %d\n", i, s.exit_code);
            return 1;
        }
        kfu_ms.push_back(s.seconds * 1000);
        if (have_python) python_ms.push_back(SpawnAndWait(python, false).seconds * 1000);
    }

    const double kfu = Median(kfu_ms);
    const double floor = Median(true_ms);
    std::printf("kfu send, one command, unpaced simulator, %d runs (whole process)\n", runs);
    std::printf("  kfu send:        median %.2f ms (target <= %.0f ms)\n", kfu, kTargetMs);
    std::printf("  /bin/true:       median %.2f ms; kfu send / true = %.2f\n", floor, kfu / floor);
    if (have_python) {
        const double py = Median(python_ms);
        std::printf(
            "  python3 serial:  median %.2f ms (import and open only); kfu send / python = "
            "%.2f\n",
            py, kfu / py);
    } else {
        std::printf("  python3 serial:  not installed here, no figure\n");
    }
    return kfu <= kTargetMs ? 0 : 1;
}
