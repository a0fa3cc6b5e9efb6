// The Win32 window under Wine, worked as a user works it, against the
// simulated controller pacing its line at 115,200 baud: a full 1536-byte-mode
// write from the write button (its time from the click until "Firmware
// successfully written" shows, against the line-time bound of the Linux write
// benchmark) and the EEPROM dump from its button (from the save dialog's OK
// until the file is there, against the bound of the Linux dump benchmark:
// every command and reply byte at ten bits). window_stopwatch.exe, in the same
// prefix, times both and asks the window for a text every millisecond
// meanwhile; its slowest answer is how long the window was unresponsive.
// Run it through scripts/bench-windows.sh.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bootloader/write_bound.h"
#include "cli/full_image.h"
#include "dump/dump_bound.h"
#include "quiet_reporter.h"
#include "serial/serial.h"
#include "sim/sim.h"
#include "win32/control_ids.h"
#include "wine_window.h"

namespace {

using namespace wine_window;

constexpr std::uint32_t kBaud = 115200;
constexpr const char* kCaption = "Korvane Firmware Utility 1.36";
constexpr int kComboEdit = 1001;  // a combo box's edit

struct Timing {
    bool ok = false;
    double seconds = 0, worst_answer_ms = 0, worst_later_ms = 0;
};

// korvane-util.exe on COM5 with the read time-out `timeout_ms`, its port
// dialog answered by keys.
class Window {
public:
    Window(Desktop& desktop, int timeout_ms) : desktop_(desktop), app_({wine::program("korvane-util.exe")}) {
        ok_ = wait_window("CommDialog") && fill("CommDialog", IDC_ComPortComboBox, "COM5") &&
              fill("CommDialog", IDC_TimeoutComboBox, std::to_string(timeout_ms)) && desktop.key("Return") &&
              wait_window("CommDialog", "", true);
    }
    ~Window() {
        probe({"close", kCaption});
        app_.wait();
    }
    bool ok() const { return ok_; }

    bool open(const std::string& path) {
        return desktop_.key("alt+f") && desktop_.key("o") && wait_window("Open") &&
               desktop_.type(wine::windows_path(path)) && desktop_.key("Return") &&
               eventually([] {
                   const auto view = control(kCaption, IDC_Firmware_View);
                   return view && !view->text.empty();
               });
    }

    // window_stopwatch.exe with `args` after the window's caption.
    static Timing stopwatch(const std::vector<std::string>& args) {
        std::vector<std::string> full{wine::program("bench/wine/window_stopwatch.exe"), args[0], kCaption};
        full.insert(full.end(), args.begin() + 1, args.end());
        const wine::Result r = wine::run(full, std::chrono::minutes(10));
        Timing t;
        t.ok = r.status == 0 &&
               std::sscanf(r.out.c_str(), "seconds=%lf worst_answer_ms=%lf worst_later_ms=%lf", &t.seconds,
                           &t.worst_answer_ms, &t.worst_later_ms) == 3;
        if (!t.ok) std::printf("  window_stopwatch.exe: exit %d %s%s\n", r.status, r.out.c_str(), r.err.c_str());
        return t;
    }

private:
    bool fill(const std::string& title, int box, const std::string& text) {
        const auto controls = dump(title);
        for (const Control& c : controls) {
            if (c.id == kComboEdit && c.parent == box) {
                return desktop_.click(c) && desktop_.key("ctrl+a") && desktop_.type(text);
            }
        }
        return false;
    }

    Desktop& desktop_;
    App app_;
    bool ok_ = false;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void summary(const char* what, const std::vector<double>& ratios, const std::vector<Timing>& timings,
             double target) {
    double worst = 0, later = 0;
    for (const Timing& t : timings) {
        worst = std::max(worst, t.worst_answer_ms);
        later = std::max(later, t.worst_later_ms);
    }
    std::printf("%s / bound: median %.4f, max %.4f (target <= %.2f); slowest answer of the window %.1f ms, "
                "past the first second %.1f ms\n",
                what, median(ratios), *std::max_element(ratios.begin(), ratios.end()), target, worst, later);
}

}  // namespace

int main(int argc, char** argv) {
    if (!wine::missing_setup().empty() || wine::env("KFU_WINESERVER").empty()) {
        std::printf("run through scripts/bench-windows.sh\n");
        return 2;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    Desktop desktop;
    if (!desktop.error().empty()) {
        std::printf("%s\n", desktop.error().c_str());
        return 2;
    }
    const auto temp = std::filesystem::temp_directory_path();
    const std::string tag = std::to_string(::getpid());
    const std::string hex = (temp / ("kfu-window-bench-" + tag + ".hex")).string();
    WriteFullImage(hex);

    // The write, with the read time-out of the Linux write benchmark.
    constexpr int kWriteTimeoutMs = 150;
    const double write_bound = FullWriteBoundSeconds(kBaud, kWriteTimeoutMs).whole;
    std::printf("Win32 window under Wine, simulator paced at %u baud\n", kBaud);
    std::printf("full 1536-byte-mode write (%d blocks), read time-out %d ms; line-time bound %.3f s\n",
                kFullWriteBlocks, kWriteTimeoutMs, write_bound);
    std::vector<double> write_ratios;
    std::vector<Timing> write_timings;
    for (int r = 0; r < rounds; ++r) {
        SimConfig config;
        config.start_in_bootloader = true;
        config.pace_baud = kBaud;
        SimController sim(config);
        if (!wine::map_port(5, sim.path())) return 1;
        Window window(desktop, kWriteTimeoutMs);
        if (!window.ok() || !window.open(hex)) {
            std::printf("  could not set up the window\n");
            return 1;
        }
        const Timing t = Window::stopwatch({"text", std::to_string(IDC_ActionBtn), std::to_string(IDC_Message),
                                            "Firmware successfully written", "600000"});
        if (!t.ok || sim.frames().size() != static_cast<std::size_t>(kFullWriteBlocks)) return 1;
        write_ratios.push_back(t.seconds / write_bound);
        write_timings.push_back(t);
        std::printf("round %d: write %.3f s, ratio %.4f, slowest answer %.1f ms (%.1f ms past the first second)\n",
                    r + 1, t.seconds, write_ratios.back(), t.worst_answer_ms, t.worst_later_ms);
    }
    std::filesystem::remove(hex);

    // The dump, with the read time-out of the Linux dump benchmark.
    // Motor 1's command frames, as the window sends them; this port is never opened.
    QuietReporter quiet;
    serial unopened(quiet, "unused", 100);
    const motor_com framing(unopened);
    std::vector<double> dump_ratios;
    std::vector<Timing> dump_timings;
    for (int r = 0; r < rounds; ++r) {
        SimConfig config;
        config.pace_baud = kBaud;
        SimController sim(config);
        for (int a = kEEPromDump.first; a <= kEEPromDump.last; ++a) sim.set_eeprom(a, (a * 7) & 0xFF);
        const double dump_bound = DumpBoundSeconds(sim, framing, kEEPromDump, kBaud);
        if (r == 0) std::printf("EEPROM dump, %d exchanges; line-rate bound %.3f s\n", kEEPromDump.last + 1, dump_bound);
        if (!wine::map_port(5, sim.path())) return 1;
        const std::string file = (temp / ("kfu-window-bench-" + tag + ".eed")).string();
        Window window(desktop, 100);
        if (!window.ok() || probe({"set-tab", kCaption, std::to_string(IDC_PageControl), "3"}).status != 0) {
            std::printf("  could not set up the window\n");
            return 1;
        }
        const Timing t = Window::stopwatch(
            {"file", std::to_string(IDC_btnDumpEEProm), wine::windows_path(file), "600000"});
        const std::size_t exchanges = sim.commands().size();
        std::filesystem::remove(file);
        if (!t.ok || exchanges != static_cast<std::size_t>(kEEPromDump.last + 1)) return 1;
        dump_ratios.push_back(t.seconds / dump_bound);
        dump_timings.push_back(t);
        std::printf("round %d: dump %.3f s, ratio %.4f, slowest answer %.1f ms\n", r + 1, t.seconds,
                    dump_ratios.back(), t.worst_answer_ms);
    }
    summary("write", write_ratios, write_timings, 1.03);
    summary("dump", dump_ratios, dump_timings, 1.05);
    return median(write_ratios) <= 1.03 && median(dump_ratios) <= 1.05 ? 0 : 1;
}
