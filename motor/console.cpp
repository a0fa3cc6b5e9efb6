#include "motor/console.h"

#include <algorithm>
#include <filesystem>

#include "common/ascii.h"
#include "common/file_read.h"
#include "common/reporter.h"
#include "common/text_lines.h"
#include "motor/motor_com.h"
#include "serial/serial.h"

namespace {

bool same_ignoring_case(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return ascii_lower(x) == ascii_lower(y);
           });
}

}  // namespace

std::string send_console_command(serial& port, motor_com& motor, Reporter& out,
                                 const std::string& command, bool run_events, StaleInput stale) {
    if (stale == StaleInput::WaitForQuiet) {
        discard_input(port, run_events ? &out : nullptr);
    } else {
        port.discard_waiting();
    }
    std::string reply = motor.query(command);
    out.message(reply);
    return reply;
}

bool read_list_file(const std::string& path, std::vector<std::string>& lines) {
    auto data = read_file_up_to(path, kMaxCommandListBytes);
    if (!data) return false;
    if (data->size() > kMaxCommandListBytes) {
        // Only whole lines: a command cut in two would be sent as it stands.
        const std::size_t end = data->find_last_of("\r\n", kMaxCommandListBytes - 1);
        data->resize(end == std::string::npos ? 0 : end + 1);
    }
    lines = split_lines(*data);
    return true;
}

ListChange keep_command_list(std::vector<std::string>& entries, bool& loaded,
                             const std::string& text, const std::string& list_file) {
    const auto append_if_new = [&] {
        const bool known = std::any_of(entries.begin(), entries.end(),
                                       [&](const std::string& e) { return same_ignoring_case(e, text); });
        if (known) return ListChange::None;
        entries.push_back(text);
        return ListChange::Appended;
    };
    if (loaded) {
        // The lines are in; all the rule still asks is whether the file is
        // there, and a look at its directory entry answers that without
        // reading the whole file again on every keystroke.
        std::error_code ec;
        return std::filesystem::exists(list_file, ec) ? ListChange::None : append_if_new();
    }
    std::vector<std::string> file_lines;
    if (!read_list_file(list_file, file_lines)) return append_if_new();
    loaded = true;
    entries = std::move(file_lines);
    return ListChange::Replaced;
}
