#include "common/program_info.h"

#include <cstdio>

#include "common/version.h"

std::string version_line(std::string_view program) {
    return std::string(program) + " " + kfu_version + "\n";
}

int print_answer(std::string_view program, const std::string& text) {
    if (std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0) return 0;
    const std::string what = std::string(program) + ": stdout";
    std::perror(what.c_str());
    return 1;
}
