#pragma once
// Reading a whole file into memory without letting its size decide how much
// memory that takes.

#include <cstdint>
#include <optional>
#include <string>

// The file's bytes, read in large pieces, but no more than `limit` + 1 of
// them: a caller sees that a file is over its limit by the size of what came
// back, without the rest ever being read. The size on disk is not trusted,
// since devices have none and a file can grow while it is read. No value
// when the file cannot be opened; a read that fails part way keeps what
// came before.
std::optional<std::string> read_file_up_to(const std::string& path, std::uintmax_t limit);
