#include "cli/command_support.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cli {

void OptionsContext::bootloader_found(const std::string& version, std::optional<WriteMode> mode) {
    if (!figures_) return;
    // The reply's bytes as text: a byte that is no printable character
    // would spoil the JSON document and the record.
    std::string shown;
    for (unsigned char c : version) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        shown += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : hex;
    }
    (*figures_)["bootloader_version"] = shown;
    (*figures_)["bootloader_mode"] = mode ? ModeName(*mode) : "";
}

std::string cannot_read(const std::string& path) {
    std::string why = "it could not be read";
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        std::fclose(file);
    } else {
        why = std::strerror(errno);
    }
    return "cannot read " + path + ": " + why;
}

void keep_lines(const LineReporter& reporter, CommandOutcome& outcome) {
    outcome.lines.insert(outcome.lines.end(), reporter.lines().begin(), reporter.lines().end());
    outcome.errors.insert(outcome.errors.end(), reporter.errors().begin(), reporter.errors().end());
}

CommandOutcome failed_before_start(const LineReporter& reporter, int exit_code) {
    CommandOutcome outcome;
    outcome.exit_code = exit_code;
    keep_lines(reporter, outcome);
    return outcome;
}

CommandOutcome failed_before_start(LineReporter& reporter, int exit_code,
                                   const std::string& error) {
    reporter.error(error);
    return failed_before_start(reporter, exit_code);
}

}  // namespace cli
