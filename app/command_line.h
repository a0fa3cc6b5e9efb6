#pragma once
// The window program's only options, answered before any display is touched,
// so that they work on a console, over ssh and in packaging checks.

#include <optional>
#include <string>

// The text for --help or --version (the first of them given), or nothing when
// neither is there: the program then starts as usual and the toolkit sees all
// arguments.
std::optional<std::string> info_answer(int argc, const char* const* argv);
