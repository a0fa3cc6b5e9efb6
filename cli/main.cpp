// kfu: the service tool's operations on the command line.

#include <cstdio>

#include "cli/commands.h"
#include "cli/platform.h"

int main(int argc, char** argv) {
    cli::install_stop_handlers();
    return cli::run_kfu(argc, argv, stdout, stderr, cli::stderr_is_terminal());
}
