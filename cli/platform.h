#pragma once
// What the command line needs of the operating system beyond the serial
// line: the interrupt keys, the terminal, and who holds a port. One file per
// platform implements it (platform_posix.cpp).

#include <string>
#include <vector>

namespace cli {

// Ctrl+C (SIGINT), SIGTERM and SIGHUP ask the operation under way to stop;
// the program then ends the ordinary way, so the port gets its settings
// back. A second Ctrl+C ends the program at once. A closed output pipe is
// not a reason to end.
void install_stop_handlers();
bool stop_signalled();
// The signal that asked for the stop (0 while none did).
int stop_signal();
// For tests that run several commands in one process.
void reset_stop_for_tests();
void request_stop_for_tests();

// Waits `ms` milliseconds; false when a stop was asked for before they were
// over (the wait then ends at once).
bool wait_unless_stopped(int ms);

bool stderr_is_terminal();
// Columns of the terminal on stderr, or 80 when it cannot be told.
int stderr_columns();

// Processes other than this one that have `device` open, as "PID (name)";
// those of other users cannot be seen without privileges and are missing.
std::vector<std::string> port_holders(const std::string& device);

// The help text's last paragraph: what a port name stands for, and where
// more is said.
std::string port_names_help();

// Why the current user may not open `device`, and what to do about it; empty
// when nothing can be said.
std::string permission_advice(const std::string& device);

}  // namespace cli
