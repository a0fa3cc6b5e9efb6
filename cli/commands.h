#pragma once
// The commands of `kfu`. Each prints through `out` as it goes and returns
// what it did; run_kfu() is the whole program.

#include <cstdio>

#include "cli/options.h"
#include "cli/outcome.h"
#include "cli/output.h"

namespace cli {

CommandOutcome cmd_ports(const Options& options, Output& out);
CommandOutcome cmd_send(const Options& options, Output& out);
CommandOutcome cmd_test(const Options& options, Output& out);
CommandOutcome cmd_poll(const Options& options, Output& out);
CommandOutcome cmd_scan(const Options& options, Output& out);
CommandOutcome cmd_doctor(const Options& options, Output& out);

CommandOutcome cmd_flash(const Options& options, Output& out);
CommandOutcome cmd_autoflash(const Options& options, Output& out);
CommandOutcome cmd_info(const Options& options, Output& out);

CommandOutcome cmd_clear_eeprom(const Options& options, Output& out);
CommandOutcome cmd_upload(const Options& options, Output& out);
CommandOutcome cmd_run(const Options& options, Output& out);
CommandOutcome cmd_dump(const Options& options, Output& out);

CommandOutcome cmd_trace(const Options& options, Output& out);
CommandOutcome cmd_records(const Options& options, Output& out);

// Parses the arguments, runs the command and prints its results (text, or
// one JSON document with --json). Returns the exit code. `progress` allows
// the progress bar (the program passes whether stderr is a terminal).
int run_kfu(int argc, const char* const* argv, std::FILE* out, std::FILE* err, bool progress);

}  // namespace cli
