#pragma once
// What the production record needs of the operating system: a file that
// several programs append rows to at once, the computer's name and the
// local time. One file per platform implements it (record_file_posix.cpp).

#include <ctime>
#include <optional>
#include <string>

namespace cli {

// Appends `row` to the file at `path` with one write while holding the
// file's lock, which every kfu appending to or reading the file takes too;
// `header` goes in front when the file is new or empty. A row that did not
// fit whole (a full disk) is taken out again, so the file only ever holds
// whole rows; the end of a row someone else left unfinished (a program
// killed while writing) is ended first, so that the new row stays whole.
// Empty on success, else why it failed.
std::string append_under_lock(const std::string& path, const std::string& header,
                              const std::string& row);

// What is written for `row` into a file of `size` bytes whose last byte is
// `last`.
inline std::string text_to_append(const std::string& header, const std::string& row, long long size,
                                  char last) {
    if (size == 0) return header + row;
    return last == '\n' ? row : "\r\n" + row;
}

// The whole file, read while no row is being appended; no value (and
// `error` said) when it cannot be read.
std::optional<std::string> read_under_lock(const std::string& path, std::string& error);

// The name of this computer.
std::string host_name();

// `t` as local calendar time.
std::tm local_fields(std::time_t t);

}  // namespace cli
