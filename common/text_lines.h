#pragma once
// The one rule by which the tool cuts a text file into lines.

#include <string>
#include <string_view>
#include <vector>

// The lines as a text control shows them: CR LF, LF and a lone CR each end a
// line, a line end at the very end does not start another line, and the
// bytes of each line are kept as they are. An empty text has no lines.
std::vector<std::string> split_lines(std::string_view text);
