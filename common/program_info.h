#pragma once
// What every program prints for --version and how it prints its answers.

#include <string>
#include <string_view>

// "<program> <version>" and a line end.
std::string version_line(std::string_view program);

// Writes the answer to --help or --version to stdout. Returns the exit code:
// 0 when all of it got out, 1 (with a line on stderr) when it did not, so that
// an answer lost to a full disk does not pass for one.
int print_answer(std::string_view program, const std::string& text);
