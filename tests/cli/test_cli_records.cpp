// The production record of the Linux kfu; the same paths run for kfu.exe
// under Wine (tests/wine).

#include <unistd.h>

#include "cli_support.h"
#include "support/record_station.h"

namespace {

class Records : public CliTest {
protected:
    // The fourth line's port goes by a name holding a comma, a quote and a
    // line break, which the record must keep whole.
    record_station::Station station{
        [this](int i, const std::string& pty) {
            if (i != 3) return pty;
            const std::string odd = dir.file("line \"4\",\nB");
            EXPECT_EQ(::symlink(pty.c_str(), odd.c_str()), 0);
            return odd;
        },
        [](const std::string& path) { return path; },
        [](std::vector<std::string> args, long max_file_size) {
            args.insert(args.begin(), KFU_PROGRAM);
            if (max_file_size > 0) {
                args.insert(args.begin(),
                            {"/usr/bin/prlimit", "--fsize=" + std::to_string(max_file_size), "--"});
            }
            return wine::run_linux(args);
        }};
    TempDir dir;
};

TEST_F(Records, AGangAndAnotherStationShareOneFile) {
    record_station::GangAndNeighbourShareOneFile(station, dir);
}

TEST_F(Records, NoRoomForTheRecordLeavesTheFlashDone) {
    record_station::NoRoomForTheRecordLeavesTheFlashDone(station, dir);
}

// A name in Latin-1 (a file from an old Windows share) goes into the
// record as UTF-8, and into --json without costing the document.
TEST_F(Records, BytesThatAreNoUtf8KeepTheRecordAndTheDocumentReadable) {
    const std::string record = dir.file("r.csv");
    const auto r = wine::run_linux({KFU_PROGRAM, "flash", "--json", "-p", "ttyNone", "--record",
                                    record, dir.file("fw-\xE9.hex")});
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_TRUE(nlohmann::json::accept(r.out)) << r.out;
    const nlohmann::json rows = record_station::CsvRows(record);
    ASSERT_EQ(rows.size(), 2u) << rows.dump();
    EXPECT_EQ(rows[1][record_station::kFile], dir.file("fw-\u00e9.hex"));
}

}  // namespace
