// Firmware: the write to a waiting bootloader, AutoFlash, and the pre-flight
// report of a HEX file.

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

#include "bootloader/bootloader.h"
#include "bootloader/write_plan.h"
#include "cli/command_support.h"
#include "cli/commands.h"
#include "firmware/documents.h"
#include "firmware/flashmem.h"
#include "serial/serial.h"

namespace cli {
namespace {

using Clock = std::chrono::steady_clock;

// How many numbers or ranges a text line lists before it says "...".
constexpr std::size_t kListedInLine = 20;

struct HexFile {
    std::vector<std::string> lines;
    std::unique_ptr<FirmwareImage> image = std::make_unique<FirmwareImage>();
    HexLoadReport report;
};

// Reads and parses the file as opening it in the window does. No value (and
// an error said) when it cannot be read or holds no line at all.
std::optional<HexFile> LoadHexFile(const std::string& path, LineReporter& reporter,
                                   HexLines which = HexLines::Capped) {
    std::optional<std::vector<std::string>> lines = ReadTextLines(path);
    if (!lines) {
        reporter.error(cannot_read(path));
        return std::nullopt;
    }
    if (lines->empty()) {
        reporter.error(path + " is empty");
        return std::nullopt;
    }
    HexFile file;
    file.lines = std::move(*lines);
    file.report = LoadHexDocument(*file.image, file.lines, which);
    return file;
}

std::string Hex(std::uint32_t value, int digits = 6) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string RangeText(const ImageRange& r) { return Hex(r.begin) + "-" + Hex(r.end - 1); }

std::string RangesText(const std::vector<ImageRange>& ranges) {
    std::string text;
    for (std::size_t i = 0; i < ranges.size() && i < kListedInLine; ++i) {
        text += (i ? ", " : "") + RangeText(ranges[i]);
    }
    if (ranges.size() > kListedInLine) {
        text += ", ... (" + std::to_string(ranges.size()) + " ranges)";
    }
    return text;
}

nlohmann::json RangesJson(const std::vector<ImageRange>& ranges) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& r : ranges) list.push_back({{"begin", r.begin}, {"end", r.end}});
    return list;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

const char* ModeVersions(WriteMode mode) {
    switch (mode) {
        case WriteMode::Binary1536:
            return "bootloader version 02 or 03";
        case WriteMode::Binary96:
            return "bootloader version 01";
        case WriteMode::Ascii16:
            break;
    }
    return "bootloader version 4J";
}

// A write the core refused because of the file (nothing to write, or
// unreadable lines the user did not accept) is the file's failure, not the
// controller's.
int WriteFailureCode(const LineReporter& reporter) {
    for (const std::string& line : reporter.lines()) {
        if (line.rfind("Error: no program data", 0) == 0 ||
            line.rfind("Firmware not written: ", 0) == 0) {
            return kExitFile;
        }
    }
    return kExitController;
}

// The file as the write would send it, refused before any line is touched
// when the write would refuse it (the question about unreadable lines is
// answered from --yes).
std::optional<HexFile> LoadWritableHexFile(const Options& options, LineReporter& reporter,
                                           HexLines which) {
    std::optional<HexFile> file = LoadHexFile(options.file, reporter, which);
    if (!file) return std::nullopt;
    // The file's trouble is said once, not once per line.
    ReportHexLoad(file->report, reporter);
    if (!FirmwareWriteAllowed(*file->image, reporter)) {
        reporter.error(options.file + ": nothing was written");
        return std::nullopt;
    }
    return file;
}

double SecondsSince(Clock::time_point started) {
    return std::chrono::duration<double>(Clock::now() - started).count();
}

// Runs `write` on every line with its port open and the progress shown. A
// failed write is said with `failed` and exits as the file's or the
// controller's failure.
CommandOutcome WriteOnLines(const Options& options, Output& out, const LineReporter& reporter,
                            const char* failed,
                            const std::function<bool(LineSession&, LineOutcome&)>& write) {
    CommandOutcome outcome =
        run_on_lines(options, out, [&](LineSession& s, LineOutcome& line) -> int {
            if (!s.open()) return kExitPort;
            s.show_progress();
            const bool written = write(s, line);
            line.figures["line_bytes"] = s.line_bytes();
            if (written) return kExitOk;
            s.reporter().error(failed);
            return WriteFailureCode(s.reporter());
        });
    keep_lines(reporter, outcome);
    return outcome;
}

}  // namespace

CommandOutcome cmd_flash(const Options& options, Output& out) {
    LineReporter reporter(out, "", options.yes);
    std::optional<HexFile> file = LoadWritableHexFile(options, reporter, HexLines::Capped);
    if (!file) return failed_before_start(reporter, kExitFile);

    return WriteOnLines(options, out, reporter, "the firmware write failed",
                        [&](LineSession& s, LineOutcome& line) {
                            // Each line sends from an image of its own.
                            const auto image = std::make_unique<const FirmwareImage>(*file->image);
                            OptionsContext context(options, file->lines);
                            context.keep_bootloader_in(line.figures);
                            const auto started = Clock::now();
                            const bool written =
                                WriteFirmware(s.port(), *image, s.reporter(), context);
                            line.figures["write_seconds"] = SecondsSince(started);
                            return written;
                        });
}

CommandOutcome cmd_autoflash(const Options& options, Output& out) {
    LineReporter reporter(out, "", options.yes);
    // AutoFlash reads and checks the file again itself; checked here first,
    // once for all lines, so that a file that cannot be written never leaves
    // a controller waiting in its bootloader.
    std::optional<HexFile> file = LoadWritableHexFile(options, reporter, HexLines::All);
    if (!file) return failed_before_start(reporter, kExitFile);

    return WriteOnLines(
        options, out, reporter, "AutoFlash failed", [&](LineSession& s, LineOutcome& line) {
            const auto image = std::make_unique<FirmwareImage>();
            FillImage(*image);
            OptionsContext context(options, {});
            context.keep_bootloader_in(line.figures);
            const auto started = Clock::now();
            const bool written =
                AutoFlashButtonClick(s.port(), s.motor(), *image, s.reporter(), context);
            line.figures["seconds"] = SecondsSince(started);
            return written;
        });
}

CommandOutcome cmd_info(const Options& options, Output& out) {
    LineReporter r(out, "", options.yes);
    std::optional<HexFile> file = LoadHexFile(options.file, r);
    if (!file) return failed_before_start(r, kExitFile);
    CommandOutcome outcome;
    const HexLoadReport& report = file->report;
    nlohmann::json& f = outcome.figures;

    r.message("File: " + options.file);
    r.message("Lines: " + std::to_string(file->lines.size()) +
              " (data records: " + std::to_string(report.data_records) +
              ", upper address records: " + std::to_string(report.address_records) +
              ", configuration records: " + std::to_string(report.configuration_records) + ")");
    f["file"] = options.file;
    f["lines"] = file->lines.size();
    f["records"] = {{"data", report.data_records},
                    {"upper_address", report.address_records},
                    {"configuration", report.configuration_records}};

    if (report.unreadable > 0) {
        std::string numbers;
        for (std::size_t i = 0; i < report.unreadable_lines.size() && i < kListedInLine; ++i) {
            numbers += (i ? ", " : "") + std::to_string(report.unreadable_lines[i]);
        }
        if (report.unreadable > kListedInLine) numbers += ", ...";
        r.message("Unreadable lines (" + std::to_string(report.unreadable) + "): " + numbers);
    } else {
        r.message("Unreadable lines: none");
    }
    f["unreadable"] = report.unreadable;
    f["unreadable_lines"] = report.unreadable_lines;
    ReportHexLoad(report, r);

    r.message("Data (HEX byte addresses): " +
              (report.data_ranges.empty() ? std::string("none") : RangesText(report.data_ranges)));
    f["data_ranges"] = RangesJson(report.data_ranges);
    f["dropped_records"] = report.dropped;

    const bool has_data = FindDataWords(*file->image, 0, kImageSize).count > 0;
    f["program_data"] = has_data;

    LineTiming timing;
    timing.baud = options.baud;
    timing.read_timeout_ms = options.timeout_ms;
    timing.motor_text = options.motor;
    f["baud"] = options.baud;
    f["timeout_ms"] = options.timeout_ms;
    nlohmann::json modes = nlohmann::json::array();
    for (WriteMode mode : {WriteMode::Binary1536, WriteMode::Binary96, WriteMode::Ascii16}) {
        const WritePlan plan = PlanWrite(mode, *file->image, file->lines, timing);
        const double seconds = EstimatedSeconds(plan, timing);
        std::string what;
        if (mode == WriteMode::Ascii16) {
            what = std::to_string(plan.data_frames) + " lines to send";
        } else {
            what = std::to_string(plan.data_frames + plan.clear_frames) +
                   " blocks: " + std::to_string(plan.data_frames) + " to write, " +
                   std::to_string(plan.clear_frames) + " to clear";
        }
        const std::string unsent =
            plan.unsent_words == 0
                ? std::string("nothing")
                : std::to_string(plan.unsent_words) + " words in " + RangesText(plan.unsent);
        r.message(std::string("Mode ") + ModeName(mode) + " (" + ModeVersions(mode) + "): " + what +
                  "; not sent: " + unsent + "; estimated write time at " +
                  std::to_string(options.baud) + " baud: " + Seconds(seconds));
        modes.push_back({{"mode", ModeName(mode)},
                         {"data_frames", plan.data_frames},
                         {"clear_frames", plan.clear_frames},
                         {"unsent_words", plan.unsent_words},
                         {"unsent", RangesJson(plan.unsent)},
                         {"bytes_out", plan.bytes_out},
                         {"bytes_in", plan.bytes_in},
                         {"exchanges", Exchanges(plan)},
                         {"estimated_seconds", seconds}});
    }
    f["modes"] = std::move(modes);

    if (!has_data) {
        r.error(options.file + " holds no program data");
        outcome.exit_code = kExitFile;
    }
    keep_lines(r, outcome);
    return outcome;
}

}  // namespace cli
