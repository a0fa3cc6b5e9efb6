#include "cli/records.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "cli/command_support.h"
#include "cli/commands.h"
#include "cli/record_file.h"
#include "common/csv.h"
#include "common/sha256.h"
#include "common/version.h"
#include "serial/serial_backend.h"

namespace cli {
namespace {

// The columns, in their order in the file.
const CsvRow kColumns = {"time",
                         "host",
                         "port",
                         "motor",
                         "command",
                         "file",
                         "sha256",
                         "bootloader_version",
                         "bootloader_mode",
                         "result",
                         "exit_code",
                         "seconds",
                         "message",
                         "version"};

enum Column : std::size_t {
    kTime,
    kHost,
    kPort,
    kMotor,
    kCommand,
    kFile,
    kSha256,
    kBootloaderVersion,
    kBootloaderMode,
    kResult,
    kExitCode,
    kSeconds,
    kMessage,
    kVersion
};

const char* record_result(int exit_code) {
    if (exit_code == kExitOk) return "ok";
    return exit_code >= 128 ? "stopped" : "failed";
}

// The file the command read or wrote on the line on `port`, as given.
std::string file_of(const Options& options, const std::string& port) {
    const bool several = options.ports.size() > 1;
    if (options.command == "dump") return file_for_line(options.output, port, several);
    if (options.command == "clear-eeprom") {
        return options.backup.empty() ? std::string()
                                      : file_for_line(options.backup, port, several);
    }
    if (options.command == "send" || options.command == "test") return {};
    return options.file;
}

// How the line's work ended: its last line (the verdict), or the first
// error when it said no line.
std::string verdict(const std::vector<std::string>& lines, const std::vector<std::string>& errors) {
    if (!lines.empty()) return lines.back();
    return errors.empty() ? std::string() : errors.front();
}

std::string text_of(const nlohmann::json& figures, const char* key) {
    const auto it = figures.find(key);
    return it != figures.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool is_utf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        // The bytes after the first: how many, and the range of the second
        // (no overlong forms, no surrogates, nothing past U+10FFFF).
        std::size_t more = 0;
        unsigned low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else if (c >= 0x80) {
            return false;
        }
        if (text.size() - i <= more) return false;
        for (std::size_t k = 1; k <= more; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return false;
        }
        i += more + 1;
    }
    return true;
}

// The record is UTF-8. A field that is not (a controller's reply in Latin-1,
// a file name in a Windows code page) is read as Latin-1.
std::string as_utf8(const std::string& text) {
    if (is_utf8(text)) return text;
    std::string out;
    for (const char byte : text) {
        const auto c = static_cast<unsigned char>(byte);
        if (c < 0x80) {
            out += byte;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

CsvRow row_of(const Options& options, const std::string& port, std::time_t started, int exit_code,
              double seconds, const std::string& message, const nlohmann::json& figures) {
    CsvRow row(kColumns.size());
    row[kTime] = record_time(started);
    row[kHost] = host_name();
    row[kPort] = port;
    row[kMotor] = options.motor;
    row[kCommand] = options.command;
    row[kFile] = file_of(options, port);
    if (!row[kFile].empty()) row[kSha256] = sha256_of_file(row[kFile]).value_or("");
    row[kBootloaderVersion] = text_of(figures, "bootloader_version");
    row[kBootloaderMode] = text_of(figures, "bootloader_mode");
    row[kResult] = record_result(exit_code);
    row[kExitCode] = std::to_string(exit_code);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    row[kSeconds] = text;
    row[kMessage] = message;
    row[kVersion] = kfu_version;
    for (std::string& field : row) field = as_utf8(field);
    return row;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
long long days_from_civil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

// The calendar fields read as if they were UTC.
long long seconds_as_utc(const std::tm& f) {
    return days_from_civil(f.tm_year + 1900LL, static_cast<unsigned>(f.tm_mon + 1),
                           static_cast<unsigned>(f.tm_mday)) *
               86400 +
           f.tm_hour * 3600LL + f.tm_min * 60LL + f.tm_sec;
}

// The row's field for the table: on one line, the fingerprint shortened.
std::string cell(const CsvRow& row, std::size_t column) {
    std::string text = row[column];
    if (column == kSha256 && text.size() > 12) text.resize(12);
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    return text;
}

// Characters, not bytes, for the alignment of UTF-8 text.
std::size_t width_of(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string table_of(const std::vector<CsvRow>& rows) {
    const CsvRow heads = {"TIME",       "HOST", "PORT",   "MOTOR", "COMMAND", "FILE",    "SHA-256",
                          "BOOTLOADER", "MODE", "RESULT", "EXIT",  "SECONDS", "MESSAGE", "VERSION"};
    // The message comes last, as the one column whose width varies most.
    const std::vector<std::size_t> order = {kTime,           kHost,   kPort,     kMotor,
                                            kCommand,        kFile,   kSha256,   kBootloaderVersion,
                                            kBootloaderMode, kResult, kExitCode, kSeconds,
                                            kVersion,        kMessage};
    std::vector<std::size_t> widths(kColumns.size());
    for (std::size_t c : order) {
        widths[c] = width_of(heads[c]);
        for (const CsvRow& row : rows) widths[c] = std::max(widths[c], width_of(cell(row, c)));
    }
    auto line = [&](const std::function<std::string(std::size_t)>& text) {
        std::string out;
        for (std::size_t i = 0; i < order.size(); ++i) {
            const std::string t = text(order[i]);
            out += t;
            if (i + 1 < order.size()) out += std::string(widths[order[i]] - width_of(t) + 2, ' ');
        }
        while (!out.empty() && out.back() == ' ') out.pop_back();
        return out + "\n";
    };
    std::string table = line([&](std::size_t c) { return heads[c]; });
    for (const CsvRow& row : rows) table += line([&](std::size_t c) { return cell(row, c); });
    return table;
}

bool same_port(const std::string& a, const std::string& b) {
    return a == b || platform_device_name(a) == platform_device_name(b);
}

}  // namespace

std::string record_time(std::time_t t) {
    const std::tm local = local_fields(t);
    const long long offset_minutes = (seconds_as_utc(local) - static_cast<long long>(t)) / 60;
    const long long away = offset_minutes < 0 ? -offset_minutes : offset_minutes;
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02lld:%02lld",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, offset_minutes < 0 ? '-' : '+', away / 60, away % 60);
    return text;
}

std::optional<std::time_t> read_record_time(const std::string& text) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3 || used != 10) {
        return std::nullopt;
    }
    std::string rest = text.substr(static_cast<std::size_t>(used));
    if (!rest.empty() && (rest[0] == 'T' || rest[0] == ' ')) {
        int n = 0;
        if (std::sscanf(rest.c_str() + 1, "%2d:%2d%n", &h, &mi, &n) != 2 || n != 5) {
            return std::nullopt;
        }
        rest.erase(0, 6);
        if (rest.size() >= 3 && rest[0] == ':') {
            if (std::sscanf(rest.c_str() + 1, "%2d%n", &s, &n) != 1 || n != 2) return std::nullopt;
            rest.erase(0, 3);
        }
    }
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || h < 0 || mi < 0 ||
        s < 0) {
        return std::nullopt;
    }
    std::tm fields{};
    fields.tm_year = y - 1900;
    fields.tm_mon = mo - 1;
    fields.tm_mday = d;
    fields.tm_hour = h;
    fields.tm_min = mi;
    fields.tm_sec = s;
    if (rest.empty()) {
        fields.tm_isdst = -1;
        const std::time_t t = std::mktime(&fields);
        if (t == static_cast<std::time_t>(-1)) return std::nullopt;
        return t;
    }
    long long offset = 0;
    if (rest != "Z") {
        int oh = 0, om = 0, n = 0;
        const char sign = rest[0];
        const bool colon = rest.size() == 6;
        if ((sign != '+' && sign != '-') || (rest.size() != 5 && !colon) ||
            std::sscanf(rest.c_str() + 1, colon ? "%2d:%2d%n" : "%2d%2d%n", &oh, &om, &n) != 2 ||
            n != static_cast<int>(rest.size()) - 1 || oh > 23 || om > 59 || oh < 0 || om < 0) {
            return std::nullopt;
        }
        offset = (oh * 60LL + om) * 60 * (sign == '-' ? -1 : 1);
    }
    return static_cast<std::time_t>(seconds_as_utc(fields) - offset);
}

std::string append_line_record(const Options& options, const LineOutcome& line) {
    const CsvRow row =
        row_of(options, line.port, std::chrono::system_clock::to_time_t(line.started),
               line.exit_code, line.seconds, verdict(line.lines, line.errors), line.figures);
    return append_under_lock(options.record, csv_row(kColumns), csv_row(row));
}

std::string finish_records(const Options& options, const CommandOutcome& outcome,
                           std::chrono::system_clock::time_point started) {
    std::string first_error;
    for (const LineOutcome& line : outcome.line_outcomes) {
        if (first_error.empty()) first_error = line.record_error;
    }
    if (!outcome.line_outcomes.empty()) return first_error;
    for (const std::string& port : options.ports) {
        const CsvRow row =
            row_of(options, port, std::chrono::system_clock::to_time_t(started), outcome.exit_code,
                   outcome.seconds, verdict(outcome.lines, outcome.errors), outcome.figures);
        const std::string error =
            append_under_lock(options.record, csv_row(kColumns), csv_row(row));
        if (first_error.empty()) first_error = error;
    }
    return first_error;
}

CommandOutcome cmd_records(const Options& options, Output& out) {
    LineReporter reporter(out, "", false);
    std::string error;
    const std::optional<std::string> text = read_under_lock(options.file, error);
    if (!text) {
        return failed_before_start(reporter, kExitFile,
                                   "cannot read " + options.file + ": " + error);
    }
    const CsvTable table = parse_csv(*text);
    std::vector<CsvRow> shown;
    int exit_code = kExitOk;
    for (std::size_t i = 0; i < table.rows.size(); ++i) {
        const CsvRow& row = table.rows[i];
        const bool blank = row.size() == 1 && row[0].empty();
        if (row == kColumns || blank) continue;
        if (row.size() != kColumns.size()) {
            reporter.error(options.file + ": row " + std::to_string(i + 1) + " has " +
                           std::to_string(row.size()) + " fields instead of " +
                           std::to_string(kColumns.size()) + "; left out");
            exit_code = kExitFile;
            continue;
        }
        if (options.records_since) {
            const std::optional<std::time_t> at = read_record_time(row[kTime]);
            if (!at || *at < *options.records_since) continue;
        }
        if (!options.records_port.empty() && !same_port(row[kPort], options.records_port)) continue;
        if (options.records_failed && row[kResult] == "ok") continue;
        shown.push_back(row);
    }
    if (table.unfinished) {
        reporter.error(options.file + ": the last row ends inside a quoted field; left out");
        exit_code = kExitFile;
    }

    CommandOutcome outcome;
    outcome.exit_code = exit_code;
    keep_lines(reporter, outcome);
    nlohmann::json rows = nlohmann::json::array();
    for (const CsvRow& row : shown) {
        nlohmann::json object = nlohmann::json::object();
        for (std::size_t c = 0; c < kColumns.size(); ++c) object[kColumns[c]] = row[c];
        // The figures as numbers, for the script that reads them.
        char* end = nullptr;
        const double seconds = std::strtod(row[kSeconds].c_str(), &end);
        if (!row[kSeconds].empty() && *end == '\0') object["seconds"] = seconds;
        const long code = std::strtol(row[kExitCode].c_str(), &end, 10);
        if (!row[kExitCode].empty() && *end == '\0') object["exit_code"] = code;
        rows.push_back(std::move(object));
    }
    outcome.figures["records"] = std::move(rows);
    if (!out.json()) out.raw(table_of(shown));
    return outcome;
}

}  // namespace cli
