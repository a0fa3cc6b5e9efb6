#pragma once
// Comma-separated values as RFC 4180 has them: a field holding a comma, a
// quote or a line break is quoted, quotes inside doubled, and rows end with
// CR LF.

#include <string>
#include <vector>

using CsvRow = std::vector<std::string>;

std::string csv_row(const CsvRow& fields);

struct CsvTable {
    std::vector<CsvRow> rows;
    // The text ends inside a quoted field: its last row was cut short and
    // is not among `rows`.
    bool unfinished = false;
};

// Reads the rows of `text`. Lines may end with CR LF or LF alone; a final
// line without its end counts as a row.
CsvTable parse_csv(const std::string& text);
