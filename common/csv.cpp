#include "common/csv.h"

namespace {

std::string quoted_if_needed(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string quoted = "\"";
    for (char c : field) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string csv_row(const CsvRow& fields) {
    std::string row;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) row += ',';
        row += quoted_if_needed(fields[i]);
    }
    return row + "\r\n";
}

CsvTable parse_csv(const std::string& text) {
    CsvTable table;
    CsvRow row;
    std::string field;
    bool in_quotes = false;
    bool row_started = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        row_started = true;
        if (in_quotes) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                in_quotes = false;
            }
        } else if (c == '"') {
            in_quotes = true;
        } else if (c == ',') {
            row.push_back(std::move(field));
            field.clear();
        } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            if (c == '\r') ++i;
            row.push_back(std::move(field));
            field.clear();
            table.rows.push_back(std::move(row));
            row.clear();
            row_started = false;
        } else {
            field += c;
        }
    }
    table.unfinished = in_quotes;
    if (row_started && !in_quotes) {
        row.push_back(std::move(field));
        table.rows.push_back(std::move(row));
    }
    return table;
}
