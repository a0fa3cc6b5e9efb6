#pragma once
// What several commands share: the window's controls as the command line
// fills them in, file problems put into words, and the lines of the command
// itself (those that belong to no serial line).

#include <string>
#include <vector>

#include "bootloader/bootloader.h"
#include "cli/options.h"
#include "cli/outcome.h"
#include "cli/session.h"

namespace cli {

// The window's controls as the command line's options set them.
class OptionsContext : public BootloaderContext {
public:
    OptionsContext(const Options& options, std::vector<std::string> firmware_lines,
                   std::vector<std::string> java_lines = {})
        : options_(options), firmware_(std::move(firmware_lines)), java_(std::move(java_lines)) {}

    std::string motor_id_text() const override { return options_.motor; }
    bool usb_compatibility() const override { return options_.usb_compat; }
    std::vector<std::string> firmware_lines() const override { return firmware_; }
    void replace_firmware_lines(const std::vector<std::string>& lines) override {
        firmware_ = lines;
    }
    std::string firmware_file_name() const override { return options_.file; }
    bool bootloader_baud() const override { return options_.bootloader_baud; }
    std::string baudrate_text() const override { return std::to_string(options_.baud); }
    void switch_off_debug_log() override {}
    std::vector<std::string> java_lines() const override { return java_; }
    // The bootloader a write finds goes into `figures` (and so into the
    // JSON document and the record).
    void keep_bootloader_in(nlohmann::json& figures) { figures_ = &figures; }
    void bootloader_found(const std::string& version, std::optional<WriteMode> mode) override;

private:
    const Options& options_;
    std::vector<std::string> firmware_;
    std::vector<std::string> java_;
    nlohmann::json* figures_ = nullptr;
};

// "cannot read PATH: " and why, in the words of the operating system.
std::string cannot_read(const std::string& path);

// The lines and errors of a reporter that speaks for the command as a whole.
void keep_lines(const LineReporter& reporter, CommandOutcome& outcome);

// A command that ends before any line was touched, its trouble already said.
CommandOutcome failed_before_start(const LineReporter& reporter, int exit_code);
// The same, saying `error` first.
CommandOutcome failed_before_start(LineReporter& reporter, int exit_code, const std::string& error);

}  // namespace cli
