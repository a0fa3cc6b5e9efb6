// The production record's CSV: any row written reads back as the same
// fields, and whatever a record file holds reads without harm into rows
// that, written out again, read back the same.

#include <cstdint>
#include <string>

#include "common/csv.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    CsvRow fields;
    for (int n = 1 + in.small(15); n > 0; --n) fields.push_back(in.text(40));
    const CsvTable one = parse_csv(csv_row(fields));
    FUZZ_CHECK(!one.unfinished && one.rows.size() == 1 && one.rows[0] == fields, bracketed(fields));

    const CsvTable any = parse_csv(in.rest());
    std::string again;
    for (const CsvRow& row : any.rows) again += csv_row(row);
    const CsvTable back = parse_csv(again);
    FUZZ_CHECK(!back.unfinished && back.rows == any.rows, escaped(again));
    return 0;
}
