#pragma once
// The command console: sending one typed command to the selected motor, and
// the rule that keeps the command box's drop-down list.

#include <cstddef>
#include <string>
#include <vector>

class serial;
class motor_com;
class Reporter;

// How stale input is thrown away before a command goes out.
enum class StaleInput {
    // Byte by byte until a read times out, so a reply still under way is
    // caught too (the window's console); costs one read time-out.
    WaitForQuiet,
    // Only what has arrived already; for a port this process has just
    // opened, where no reply of ours can be under way.
    AlreadyWaiting,
};

// Discards stale input, sends `command` to the selected motor and appends the
// reply line (empty when nothing came) to the message area.
std::string send_console_command(serial& port, motor_com& motor, Reporter& out,
                                 const std::string& command, bool run_events,
                                 StaleInput stale = StaleInput::WaitForQuiet);

enum class ListChange { None, Appended, Replaced };

// Keeps the command list after the command text changed. While the list file
// cannot be opened, every text not yet in the list (compared without regard
// to letter case) is appended. The first time the file opens its lines
// replace the list and `loaded` is set; after that nothing changes while the
// file is there (it is not read again), and typed texts are appended again
// once it has gone.
ListChange keep_command_list(std::vector<std::string>& entries, bool& loaded,
                             const std::string& text, const std::string& list_file);

// A command list is a hand-kept file of a few hundred lines at most; of a
// larger file (a log saved under the wrong name) only the whole lines within
// the first MiB are taken, so that neither the memory nor the drop-down
// list grows with it.
constexpr std::size_t kMaxCommandListBytes = 1024 * 1024;

// The lines of a text file; CR LF, LF and a lone CR each end a line.
// False when the file cannot be opened.
bool read_list_file(const std::string& path, std::vector<std::string>& lines);
