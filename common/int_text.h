#pragma once
// The one rule by which the tool reads an integer out of a text typed by a
// user, found in a script or received from a controller.

#include <cstdint>
#include <optional>
#include <string_view>

// Optional leading blanks (space, tab), an optional "+" or "-", then decimal
// digits, or hexadecimal digits behind "$", "x", "X", "0x" or "0X". Nothing
// may follow the digits. Values outside the signed 32-bit range are rejected.
// Returns no value when the text is not an integer.
std::optional<std::int32_t> read_integer(std::string_view text);

// The value, or `fallback` when the text is not an integer.
std::int32_t read_integer_or(std::string_view text, std::int32_t fallback);
